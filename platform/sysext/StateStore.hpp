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
#include <string_view>
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

enum class LockMode { shared, exclusive };

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

// Held for as long as the object lives; the kernel drops it if the process dies.
// It also holds the state directory, opened and checked once, which every file
// of the state is reached from.
class StateLock {
  public:
    static Expected<StateLock> acquire(const StatePaths& paths, LockMode mode,
                                       const LockWait& wait = {});
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
    StateLock(StateLock&& other) noexcept;
    StateLock& operator=(StateLock&&) = delete;
    ~StateLock();

    const StatePaths& paths() const { return paths_; }
    int directory() const { return directory_; }

  private:
    StateLock(StatePaths paths, int directory, int lock)
        : paths_(std::move(paths)), directory_(directory), lock_(lock) {}
    StatePaths paths_;
    int directory_;
    int lock_;
};

// The steps of an update, for callers that already hold the exclusive lock.
// A missing file is the state of a fresh machine.
Expected<ServiceState> readStateFile(const StateLock& lock);
std::optional<std::string> writeStagedState(const StateLock& lock, std::string_view bytes);
std::optional<std::string> commitStagedState(const StateLock& lock);

class StateStore {
  public:
    explicit StateStore(StatePaths paths, LockWait wait = {})
        : paths_(std::move(paths)), wait_(std::move(wait)) {}
    const StatePaths& paths() const { return paths_; }

    Expected<ServiceState> read() const;

    // Runs the change on the current state and writes the result if it differs.
    // A state that cannot be read, or that the change would make larger than
    // largestStateFile, is left exactly as it is.
    template <class Change>
    auto update(Change&& change) const -> Expected<std::invoke_result_t<Change&, ServiceState&>> {
        std::optional<std::invoke_result_t<Change&, ServiceState&>> result;
        if (auto problem =
                updateWith([&](ServiceState& state) { result.emplace(change(state)); })) {
            return Failure{*problem};
        }
        return std::move(*result);
    }
    std::optional<std::string> updateWith(const std::function<void(ServiceState&)>& change) const;

    // Forgets everything, also a state that cannot be read.
    std::optional<std::string> reset() const;

  private:
    StatePaths paths_;
    LockWait wait_;
};

}  // namespace sysext
