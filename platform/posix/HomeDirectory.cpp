// $HOME first: the desktop session sets it, and tests point it at a scratch
// directory. An unset, empty or relative HOME names no usable place, so the
// password database decides. When even that has no answer, "/" keeps the log
// path absolute; it names no file the launcher would ever find, so the log
// line is dropped rather than written somewhere relative to the working
// directory.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Host.hpp"

namespace platform {

namespace {

bool isAbsolutePath(const char* path) {
    return path != nullptr && path[0] == '/';
}

std::string homeFromPasswordDatabase() {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = suggested > 0 ? static_cast<std::size_t>(suggested) : 4096;
    constexpr std::size_t largestBuffer = std::size_t{1} << 20;
    while (size <= largestBuffer) {
        std::vector<char> buffer(size);
        passwd entry{};
        passwd* found = nullptr;
        const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE) {
            size *= 2;
            continue;
        }
        if (error == 0 && found != nullptr && isAbsolutePath(found->pw_dir)) {
            return found->pw_dir;
        }
        break;
    }
    return "/";
}

}  // namespace

std::string homeDirectoryForCurrentUser() {
    if (const char* home = std::getenv("HOME"); isAbsolutePath(home)) {
        return home;
    }
    return homeFromPasswordDatabase();
}

}  // namespace platform
