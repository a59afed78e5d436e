// A file URL, kept as its absolute path.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

class FileURL {
  public:
    static FileURL fileURLWithPath(std::string path) { return FileURL(std::move(path)); }

    const std::string& path() const { return path_; }
    // One more path component, joined with exactly one slash.
    FileURL appendingPathComponent(std::string_view component) const;
    // "file://" and the path, percent-encoded where a URL path may not hold the byte.
    std::string absoluteString() const;

  private:
    explicit FileURL(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

}  // namespace launcher
