#include "ScratchStateHome.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace sysext::testing {

ScratchStateHome::ScratchStateHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sysext-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
    ::setenv("HOME", root_.c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root_ / "state-home").c_str(), 1);
}

ScratchStateHome::~ScratchStateHome() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

StatePaths ScratchStateHome::paths() const {
    return StatePaths{root_ / "state-home" / "veltrin-sysext"};
}

std::string ScratchStateHome::stateBytes() const {
    return readFileBytes(paths().stateFile());
}

void ScratchStateHome::writeStateBytes(const std::string& bytes) const {
    std::filesystem::create_directories(paths().directory);
    std::ofstream(paths().stateFile(), std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace sysext::testing
