// The state on disk: one file, replaced whole under a lock shared by every
// process, so a reader never sees half an update and two writers lose nothing.
// The directory is the user's own and only theirs to write, or it is not used
// (as ssh treats ~/.ssh), and nothing in it is reached through a link: a
// process running as root must not write wherever someone else's links point.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "Expected.hpp"
#include "ServiceState.hpp"

namespace sysext {

struct StatePaths {
    std::filesystem::path directory;
    std::filesystem::path stateFile() const { return directory / "state"; }
    std::filesystem::path lockFile() const { return directory / "state.lock"; }
    std::filesystem::path stagedFile() const { return directory / "state.new"; }
};

// $XDG_STATE_HOME/veltrin-sysext, else $HOME/.local/state/veltrin-sysext.
Expected<StatePaths> locateStatePaths();

// How long a process waits while another holds the lock, and what it says.
struct LockWait {
    // Once this descriptor is readable (a quit signal's pipe), onQuit runs; if
    // it returns, the wait ends without the lock.
    int quitDescriptor = -1;
    std::function<void()> onQuit;
    // Told once, after noticeAfter, which process holds the lock.
    std::function<void(const std::string&)> notice;
    std::chrono::milliseconds noticeAfter{3000};
};

class StateStore {
  public:
    explicit StateStore(StatePaths paths, LockWait wait = {})
        : paths_(std::move(paths)), wait_(std::move(wait)) {}

    Expected<ServiceState> read() const;

    // Runs the change on the current state and writes the result if it differs.
    // A state that cannot be read, or that the change would make larger than
    // largestStateFile, is left exactly as it is.
    template <class Change>
    auto update(Change&& change) const -> Expected<std::invoke_result_t<Change&, ServiceState&>> {
        std::optional<std::invoke_result_t<Change&, ServiceState&>> result;
        auto updated = updateWith([&](ServiceState& state) { result.emplace(change(state)); });
        if (!updated) {
            return updated.error();
        }
        return std::move(*result);
    }
    Expected<void> updateWith(const std::function<void(ServiceState&)>& change) const;

    // Forgets everything, also a state that cannot be read.
    Expected<void> reset() const;

  private:
    StatePaths paths_;
    LockWait wait_;
};

}  // namespace sysext
