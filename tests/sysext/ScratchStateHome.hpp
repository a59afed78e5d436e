// A temporary HOME and XDG_STATE_HOME for one test, removed afterwards, so no
// test ever reads or writes the real user's state.
#pragma once

#include <filesystem>
#include <string>

#include "StateStore.hpp"

namespace sysext::testing {

class ScratchStateHome {
  public:
    ScratchStateHome();
    ScratchStateHome(const ScratchStateHome&) = delete;
    ScratchStateHome& operator=(const ScratchStateHome&) = delete;
    ~ScratchStateHome();

    const std::filesystem::path& root() const { return root_; }
    StatePaths paths() const;
    StateStore store() const { return StateStore(paths()); }

    // The state file's bytes; empty when there is none.
    std::string stateBytes() const;
    void writeStateBytes(const std::string& bytes) const;

  private:
    std::filesystem::path root_;
};

std::string readFileBytes(const std::filesystem::path& path);

}  // namespace sysext::testing
