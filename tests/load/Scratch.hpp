// A temporary directory for one load case, and the environment every child
// process gets: nothing inherited that leads to the user's home, display,
// session or the machine's system bus.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "Child.hpp"

namespace load {

namespace fs = std::filesystem;

class Scratch {
  public:
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/veltrin-load-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            root_ = pattern;
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (root_.empty()) {
            return;
        }
        if (keep_ || std::getenv("VELTRIN_LOAD_KEEP") != nullptr) {
            std::cerr << "scratch directory kept: " << root_ << '\n';
            return;
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    bool ok() const { return !root_.empty(); }
    const fs::path& root() const { return root_; }
    void keep() { keep_ = true; }

    // `home` is this process's own; the stand-in state under root()/state is
    // shared by everything started from this scratch directory.
    e2e::Environment environment(const fs::path& home) const {
        e2e::Environment env;
        if (const char* path = std::getenv("PATH")) {
            env["PATH"] = path;
        }
        env["HOME"] = home.string();
        env["XDG_STATE_HOME"] = (root_ / "state").string();
        env["XDG_RUNTIME_DIR"] = (root_ / "runtime").string();
        env["QT_QPA_PLATFORM"] = "offscreen";
        // Nothing listens there, so no restart request can reach a machine.
        env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + (root_ / "no-bus").string();
        return env;
    }

    void makeRuntimeDirectory() const {
        fs::create_directories(root_ / "runtime");
        fs::permissions(root_ / "runtime", fs::perms::owner_all);
    }

  private:
    fs::path root_;
    bool keep_ = false;
};

}  // namespace load
