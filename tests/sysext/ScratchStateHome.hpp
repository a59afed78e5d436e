// A temporary HOME and XDG_STATE_HOME for one test, removed afterwards, so no
// test ever reads or writes the real user's state.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "StateStore.hpp"

namespace sysext::testing {

class ScratchStateHome {
  public:
    ScratchStateHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sysext-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root_ = pattern;
        ::setenv("HOME", root_.c_str(), 1);
        ::setenv("XDG_STATE_HOME", (root_ / "state-home").c_str(), 1);
    }
    ~ScratchStateHome() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::filesystem::path& root() const { return root_; }
    StatePaths paths() const { return StatePaths{root_ / "state-home" / "veltrin-sysext"}; }
    // The state file's bytes; empty when there is none.
    std::string stateBytes() const {
        std::ifstream file(paths().stateFile(), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    void writeStateBytes(const std::string& bytes) const {
        std::filesystem::create_directories(paths().directory);
        std::ofstream(paths().stateFile(), std::ios::binary | std::ios::trunc) << bytes;
    }

  private:
    std::filesystem::path root_;
};

}  // namespace sysext::testing
