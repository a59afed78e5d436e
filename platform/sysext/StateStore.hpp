// The state on disk: one file, replaced whole under a lock shared by every
// process, so a reader never sees half an update and two writers lose nothing.
#pragma once

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

// Held for as long as the object lives; the kernel drops it if the process dies.
class StateLock {
  public:
    static Expected<StateLock> acquire(const StatePaths& paths, LockMode mode);
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
    StateLock(StateLock&& other) noexcept;
    StateLock& operator=(StateLock&&) = delete;
    ~StateLock();

  private:
    explicit StateLock(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

// The steps of an update, for callers that already hold the exclusive lock.
// A missing file is the state of a fresh machine.
Expected<ServiceState> readStateFile(const StatePaths& paths);
std::optional<std::string> writeStagedState(const StatePaths& paths, std::string_view bytes);
std::optional<std::string> commitStagedState(const StatePaths& paths);

class StateStore {
  public:
    explicit StateStore(StatePaths paths) : paths_(std::move(paths)) {}
    const StatePaths& paths() const { return paths_; }

    Expected<ServiceState> read() const;

    // Runs the change on the current state and writes the result if it differs.
    // A state that cannot be read is left exactly as it is.
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
};

}  // namespace sysext
