#include "StateStore.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "StateFormat.hpp"
#include "platform/text/EscapedText.hpp"

namespace sysext {

namespace {

constexpr const char* stateName = "state";
constexpr const char* lockName = "state.lock";
constexpr const char* stagedName = "state.new";

std::string quoted(const std::filesystem::path& path) {
    return platform::text::quoted(path.string());
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
    int release() { return std::exchange(descriptor_, -1); }

  private:
    int descriptor_;
};

Expected<void> writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failure{systemError(errno)};
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// The user's own, and no one else may write to it, or it is not used at all:
// whoever can write there can swap the state for links to anywhere.
Expected<int> openStateDirectory(const StatePaths& paths) {
    const std::string advice = ". Point XDG_STATE_HOME at a directory of your own.";
    std::error_code error;
    std::filesystem::create_directories(paths.directory.parent_path(), error);
    if (error || (::mkdir(paths.directory.c_str(), 0700) != 0 && errno != EEXIST)) {
        return Failure{"Cannot create the system extension state directory " +
                       quoted(paths.directory) + ": " +
                       (error ? error.message() : systemError(errno)) + advice};
    }
    Descriptor directory(
        ::open(paths.directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (directory.get() < 0) {
        const int why = errno;
        struct stat link {};
        const bool isLink = ::lstat(paths.directory.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        return Failure{"Cannot use the system extension state directory " +
                       quoted(paths.directory) + ": " +
                       (isLink ? "it is a symbolic link" : systemError(why)) + advice};
    }
    struct stat status {};
    if (::fstat(directory.get(), &status) != 0) {
        return Failure{"Cannot use the system extension state directory " +
                       quoted(paths.directory) + ": " + systemError(errno) + advice};
    }
    const std::string refused =
        "Bad owner or permissions on the system extension state directory " +
        quoted(paths.directory) + ": ";
    if (status.st_uid != ::geteuid()) {
        return Failure{refused + "it belongs to user " + std::to_string(status.st_uid) +
                       ", not to you (user " + std::to_string(::geteuid()) + "). It was not used" +
                       advice};
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        static_cast<void>(std::snprintf(mode, sizeof mode, "%04o",
                                        static_cast<unsigned>(status.st_mode & 07777)));
        return Failure{refused + "others may write to it (mode " + mode +
                       "). It was not used; make it writable by you alone (chmod go-w " +
                       quoted(paths.directory) + ")."};
    }
    return directory.release();
}

// Who holds the lock, from the kernel's table of locks; a name that a program
// gave itself is escaped like any outside text.
std::string describeHolders(int lock) {
    struct stat status {};
    if (::fstat(lock, &status) != 0) {
        return "another process holds its lock";
    }
    char file[64];
    static_cast<void>(std::snprintf(file, sizeof file, "%02x:%02x:%llu", ::major(status.st_dev),
                                    ::minor(status.st_dev),
                                    static_cast<unsigned long long>(status.st_ino)));
    std::set<long> holders;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number;
        std::string kind;
        std::string mandatory;
        std::string access;
        std::string device;
        long process = 0;
        // A line "N: -> FLOCK ..." is a process that waits, not one that holds.
        if (fields >> number >> kind >> mandatory >> access >> process >> device &&
            kind == "FLOCK" && device == file) {
            holders.insert(process);
        }
    }
    if (holders.empty()) {
        return "another process holds its lock";
    }
    std::string named;
    for (const long process : holders) {
        std::ifstream comm("/proc/" + std::to_string(process) + "/comm");
        std::string name;
        std::getline(comm, name);
        named.append(named.empty() ? "" : ", ").append(std::to_string(process));
        if (!name.empty()) {
            named.append(" (");
            platform::text::appendEscaped(named, name);
            named.append(")");
        }
    }
    return holders.size() == 1 ? "process " + named + " holds its lock"
                               : "processes " + named + " hold its lock";
}

// Without blocking in flock, so that a quit ends the wait and the one who waits
// can be told who holds the lock.
Expected<void> waitForLock(const StatePaths& paths, int lock, int operation, const LockWait& wait) {
    const auto started = std::chrono::steady_clock::now();
    bool told = false;
    int pauseMilliseconds = 1;
    for (;;) {
        if (::flock(lock, operation | LOCK_NB) == 0) {
            return {};
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return Failure{"Cannot lock " + quoted(paths.lockFile()) + ": " + systemError(errno) +
                           "."};
        }
        if (!told && wait.notice &&
            std::chrono::steady_clock::now() - started >= wait.noticeAfter) {
            told = true;
            wait.notice("Waiting for the system extension state " + quoted(paths.directory) + ": " +
                        describeHolders(lock) + ".");
        }
        pollfd quit{wait.quitDescriptor, POLLIN, 0};
        if (::poll(&quit, wait.quitDescriptor >= 0 ? 1 : 0, pauseMilliseconds) > 0) {
            if (wait.onQuit) {
                wait.onQuit();
            }
            return Failure{"Stopped waiting for the lock of the system extension state " +
                           quoted(paths.directory) + ": the process is quitting."};
        }
        pauseMilliseconds = std::min(pauseMilliseconds * 2, 50);
    }
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

enum class LockMode { shared, exclusive };

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

Expected<StateLock> StateLock::acquire(const StatePaths& paths, LockMode mode,
                                       const LockWait& wait) {
    auto opened = openStateDirectory(paths);
    if (!opened) {
        return opened.error();
    }
    Descriptor directory(*opened);
    Descriptor lock(
        ::openat(directory.get(), lockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        return Failure{"Cannot open the system extension lock file " + quoted(paths.lockFile()) +
                       ": " + systemError(errno) + "."};
    }
    const int operation = mode == LockMode::exclusive ? LOCK_EX : LOCK_SH;
    if (auto locked = waitForLock(paths, lock.get(), operation, wait); !locked) {
        return locked.error();
    }
    return StateLock(paths, directory.release(), lock.release());
}

StateLock::StateLock(StateLock&& other) noexcept
    : paths_(std::move(other.paths_)),
      directory_(std::exchange(other.directory_, -1)),
      lock_(std::exchange(other.lock_, -1)) {}

StateLock::~StateLock() {
    for (const int descriptor : {lock_, directory_}) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
}

// Makes a finished rename or unlink survive a power cut.
void syncDirectory(const StateLock& lock) {
    ::fsync(lock.directory());
}

// A missing file is the state of a fresh machine.
Expected<ServiceState> readStateFile(const StateLock& lock) {
    const StatePaths& paths = lock.paths();
    const Descriptor file(
        ::openat(lock.directory(), stateName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ENOENT) {
            return ServiceState{};
        }
        return Failure{damagedStateMessage(
            paths, errno == ELOOP ? "it is a symbolic link" : systemError(errno))};
    }
    auto bytes = readCapped(paths, file.get());
    if (!bytes) {
        return bytes.error();
    }
    auto state = parseState(*bytes);
    if (!state) {
        return Failure{damagedStateMessage(paths, state.error().message)};
    }
    return state;
}

// A fresh file every time: whatever stood under the staged name, a link
// included, is removed rather than written through.
Expected<void> writeStagedState(const StateLock& lock, std::string_view bytes) {
    const std::string cannot = "Cannot write " + quoted(lock.paths().stagedFile()) + ": ";
    if (::unlinkat(lock.directory(), stagedName, 0) != 0 && errno != ENOENT) {
        return Failure{cannot + systemError(errno) + "."};
    }
    const Descriptor file(::openat(lock.directory(), stagedName,
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        return Failure{cannot + systemError(errno) + "."};
    }
    if (auto written = writeAll(file.get(), bytes); !written) {
        return Failure{cannot + written.error().message + "."};
    }
    if (::fsync(file.get()) != 0) {
        return Failure{cannot + systemError(errno) + "."};
    }
    return {};
}

Expected<void> commitStagedState(const StateLock& lock) {
    if (::renameat(lock.directory(), stagedName, lock.directory(), stateName) != 0) {
        return Failure{"Cannot replace " + quoted(lock.paths().stateFile()) + ": " +
                       systemError(errno) + "."};
    }
    syncDirectory(lock);
    return {};
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

Expected<ServiceState> StateStore::read() const {
    auto lock = StateLock::acquire(paths_, LockMode::shared, wait_);
    if (!lock) {
        return lock.error();
    }
    return readStateFile(*lock);
}

Expected<void> StateStore::updateWith(const std::function<void(ServiceState&)>& change) const {
    auto lock = StateLock::acquire(paths_, LockMode::exclusive, wait_);
    if (!lock) {
        return lock.error();
    }
    auto state = readStateFile(*lock);
    if (!state) {
        return state.error();
    }
    const ServiceState before = *state;
    change(*state);
    if (*state == before) {
        return {};
    }
    // Written, it could never be read back.
    const std::string bytes = serializeState(*state);
    if (bytes.size() > largestStateFile) {
        return Failure{"The change was not made: the system extension state " +
                       quoted(paths_.stateFile()) + " would grow past " +
                       std::to_string(largestStateFile) +
                       " bytes. It was left as it is; to start afresh run \"sysextctl reset\" (or "
                       "remove that file)."};
    }
    if (auto staged = writeStagedState(*lock, bytes); !staged) {
        return staged;
    }
    return commitStagedState(*lock);
}

Expected<void> StateStore::reset() const {
    auto lock = StateLock::acquire(paths_, LockMode::exclusive, wait_);
    if (!lock) {
        return lock.error();
    }
    // Whatever took the state's place, also a directory, is what reset clears;
    // the directory is reached through the descriptor that was checked.
    std::error_code error;
    if (::unlinkat(lock->directory(), stateName, 0) != 0 && errno != ENOENT) {
        std::filesystem::remove_all(
            std::filesystem::path("/proc/self/fd") / std::to_string(lock->directory()) / stateName,
            error);
    }
    if (error) {
        return Failure{"Cannot remove " + quoted(paths_.stateFile()) + ": " +
                       systemError(error.value()) + "."};
    }
    syncDirectory(*lock);
    return {};
}

}  // namespace sysext
