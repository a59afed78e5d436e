// The activity log is opened for reading and writing, as an update handle is, so
// a file that may be written but not read gets no line. O_APPEND means a second
// writer can never have its bytes overwritten between finding the end and
// writing there, and the file is never created (no O_CREAT). O_NONBLOCK keeps a FIFO without a
// reader, or a full pipe, from hanging the main thread: such a line is dropped instead.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "../FileHandle.hpp"

namespace platform {

namespace {

class PosixFileHandle final : public FileHandle {
  public:
    explicit PosixFileHandle(int fd) : fd_(fd) {}
    PosixFileHandle(const PosixFileHandle&) = delete;
    PosixFileHandle& operator=(const PosixFileHandle&) = delete;
    ~PosixFileHandle() override { ::close(fd_); }

    void writeData(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<FileHandle> fileHandleForAppending(const std::string& path) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<PosixFileHandle>(fd);
}

}  // namespace platform
