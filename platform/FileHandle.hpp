// Appending to an existing file. Files are never created through this seam.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace platform {

class FileHandle {
  public:
    // Releasing the handle closes the file.
    virtual ~FileHandle() = default;
    // Writes all bytes at the end of the file, continuing a short write. At the
    // first error it stops silently and takes back the part it wrote, unless
    // another writer has appended after it.
    virtual void writeData(std::string_view bytes) = 0;
};

// Opens an existing file for appending. Null when it does not exist or cannot be
// opened for writing (a directory, no permission, a pipe with no reader, ...).
std::unique_ptr<FileHandle> fileHandleForAppending(const std::string& path);

}  // namespace platform
