// The activity log is opened for reading and writing, as an update handle is, so
// a file that may be written but not read gets no line. O_APPEND means a second
// writer can never have its bytes overwritten between finding the end and
// writing there, and the file is never created (no O_CREAT). A FIFO opened for
// reading and writing never waits for a reader; O_NONBLOCK keeps one that nobody
// drains, once full, from hanging the main thread: such a line is dropped instead.
// A line is whole or absent: when the disk fills up or a file-size limit is
// reached part way, the part already written is taken back, so that the next
// line does not start glued to half of this one. Only while the file still
// ends with that part: a line another writer appended since stays untouched.
#include <fcntl.h>
#include <sys/stat.h>
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
        // Where the bytes of this line lie in the file, while they lie there in one piece.
        off_t start = -1;
        off_t end = -1;
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                takeBack(start, end);
                return;
            }
            // In append mode the offset is the end of what was just written.
            const off_t after = ::lseek(fd_, 0, SEEK_CUR);
            const off_t before = after - static_cast<off_t>(written);
            const bool inOnePiece = after >= 0 && (start < 0 || before == end);
            start = inOnePiece && start < 0 ? before : start;
            end = inOnePiece ? after : -1;
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }

  private:
    void takeBack(off_t start, off_t end) const {
        struct stat status {};
        if (start >= 0 && end > start && ::fstat(fd_, &status) == 0 && status.st_size == end) {
            static_cast<void>(::ftruncate(fd_, start));
        }
    }

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
