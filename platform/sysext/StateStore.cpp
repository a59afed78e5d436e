#include "StateStore.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "StateFormat.hpp"

namespace sysext {

namespace {

std::string quoted(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

std::string systemError(int code) {
    return std::generic_category().message(code);
}

std::string damagedStateMessage(const StatePaths& paths, const std::string& why) {
    return "The system extension state " + quoted(paths.stateFile()) + " cannot be used: " + why +
           ". It was left as it is; to start afresh run \"sysextctl reset\" (or remove that file).";
}

class Descriptor {
  public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    int get() const { return descriptor_; }

  private:
    int descriptor_;
};

std::optional<std::string> writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return systemError(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

// Makes a finished rename or unlink survive a power cut.
void syncDirectory(const StatePaths& paths) {
    const Descriptor directory(::open(paths.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) {
        ::fsync(directory.get());
    }
}

std::optional<std::string> ensureDirectory(const StatePaths& paths) {
    std::error_code error;
    std::filesystem::create_directories(paths.directory, error);
    if (error) {
        return "Cannot create the system extension state directory " + quoted(paths.directory) +
               ": " + error.message() + ". Point XDG_STATE_HOME at a writable directory.";
    }
    return std::nullopt;
}

Expected<std::string> readCapped(const StatePaths& paths, int descriptor) {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        return Failure{damagedStateMessage(paths, systemError(errno))};
    }
    if (!S_ISREG(status.st_mode)) {
        return Failure{damagedStateMessage(paths, "it is not a regular file")};
    }
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failure{damagedStateMessage(paths, systemError(errno))};
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > largestStateFile) {
            return Failure{damagedStateMessage(
                paths, "larger than " + std::to_string(largestStateFile) + " bytes")};
        }
    }
}

std::optional<std::string> absoluteDirectoryFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace

Expected<StatePaths> locateStatePaths() {
    if (auto stateHome = absoluteDirectoryFromEnvironment("XDG_STATE_HOME")) {
        return StatePaths{std::filesystem::path(*stateHome) / "veltrin-sysext"};
    }
    if (auto home = absoluteDirectoryFromEnvironment("HOME")) {
        return StatePaths{std::filesystem::path(*home) / ".local" / "state" / "veltrin-sysext"};
    }
    return Failure{
        "There is no place for the system extension state: neither XDG_STATE_HOME nor HOME "
        "holds an absolute path. Set one of them."};
}

Expected<StateLock> StateLock::acquire(const StatePaths& paths, LockMode mode) {
    if (auto problem = ensureDirectory(paths)) {
        return Failure{*problem};
    }
    const int descriptor = ::open(paths.lockFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return Failure{"Cannot open the system extension lock file " + quoted(paths.lockFile()) +
                       ": " + systemError(errno) + "."};
    }
    const int operation = mode == LockMode::exclusive ? LOCK_EX : LOCK_SH;
    while (::flock(descriptor, operation) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(descriptor);
            return Failure{"Cannot lock " + quoted(paths.lockFile()) + ": " + systemError(error) +
                           "."};
        }
    }
    return StateLock(descriptor);
}

StateLock::StateLock(StateLock&& other) noexcept : descriptor_(other.descriptor_) {
    other.descriptor_ = -1;
}

StateLock::~StateLock() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

Expected<ServiceState> readStateFile(const StatePaths& paths) {
    const Descriptor file(::open(paths.stateFile().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ENOENT) {
            return ServiceState{};
        }
        return Failure{damagedStateMessage(paths, systemError(errno))};
    }
    auto bytes = readCapped(paths, file.get());
    if (!bytes) {
        return Failure{bytes.error()};
    }
    auto state = parseState(*bytes);
    if (!state) {
        return Failure{damagedStateMessage(paths, state.error())};
    }
    return state;
}

std::optional<std::string> writeStagedState(const StatePaths& paths, std::string_view bytes) {
    const Descriptor file(
        ::open(paths.stagedFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        return "Cannot write " + quoted(paths.stagedFile()) + ": " + systemError(errno) + ".";
    }
    if (auto problem = writeAll(file.get(), bytes)) {
        return "Cannot write " + quoted(paths.stagedFile()) + ": " + *problem + ".";
    }
    if (::fsync(file.get()) != 0) {
        return "Cannot write " + quoted(paths.stagedFile()) + ": " + systemError(errno) + ".";
    }
    return std::nullopt;
}

std::optional<std::string> commitStagedState(const StatePaths& paths) {
    if (::rename(paths.stagedFile().c_str(), paths.stateFile().c_str()) != 0) {
        return "Cannot replace " + quoted(paths.stateFile()) + ": " + systemError(errno) + ".";
    }
    syncDirectory(paths);
    return std::nullopt;
}

Expected<ServiceState> StateStore::read() const {
    auto lock = StateLock::acquire(paths_, LockMode::shared);
    if (!lock) {
        return Failure{lock.error()};
    }
    return readStateFile(paths_);
}

std::optional<std::string> StateStore::updateWith(
    const std::function<void(ServiceState&)>& change) const {
    auto lock = StateLock::acquire(paths_, LockMode::exclusive);
    if (!lock) {
        return lock.error();
    }
    auto state = readStateFile(paths_);
    if (!state) {
        return state.error();
    }
    const ServiceState before = *state;
    change(*state);
    if (*state == before) {
        return std::nullopt;
    }
    if (auto problem = writeStagedState(paths_, serializeState(*state))) {
        return problem;
    }
    return commitStagedState(paths_);
}

std::optional<std::string> StateStore::reset() const {
    auto lock = StateLock::acquire(paths_, LockMode::exclusive);
    if (!lock) {
        return lock.error();
    }
    // Whatever took the state's place, also a directory, is what reset clears.
    std::error_code error;
    std::filesystem::remove_all(paths_.stateFile(), error);
    if (error) {
        return "Cannot remove " + quoted(paths_.stateFile()) + ": " + systemError(error.value()) +
               ".";
    }
    syncDirectory(paths_);
    return std::nullopt;
}

}  // namespace sysext
