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

struct ScratchStateHome {
    ScratchStateHome() {
        std::string pattern = std::filesystem::temp_directory_path() / "sysext-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root = pattern;
        ::setenv("HOME", root.c_str(), 1);
        ::setenv("XDG_STATE_HOME", (root / "state-home").c_str(), 1);
    }
    ~ScratchStateHome() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    StatePaths paths() const { return {root / "state-home" / "veltrin-sysext"}; }
    // The state file's bytes; empty when there is none.
    std::string stateBytes() const {
        std::ifstream file(paths().stateFile(), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    void writeStateBytes(const std::string& bytes) const {
        std::filesystem::create_directories(paths().directory);
        std::ofstream(paths().stateFile(), std::ios::binary) << bytes;
    }

    std::filesystem::path root;
};

}  // namespace sysext::testing
