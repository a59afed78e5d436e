// The home directory as both Linux builds find it (platform/posix). The restart
// request and standard output: the end-to-end suite.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/Host.hpp"

namespace {

TEST(HomeDirectory, IsAnAbsoluteHomeElseThePasswordDatabase) {
    const passwd* entry = ::getpwuid(::getuid());
    const std::string database = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
    const std::string restore = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    for (const auto& [home, expected] : std::vector<std::pair<const char*, std::string>>{
             {"/tmp/some where/ü", "/tmp/some where/ü"},
             {"", database},
             {"relative/dir", database},
             {nullptr, database}}) {
        if (home != nullptr) {
            ::setenv("HOME", home, 1);
        } else {
            ::unsetenv("HOME");
        }
        EXPECT_EQ(platform::homeDirectoryForCurrentUser(), expected) << (home ? home : "unset");
    }
    ::setenv("HOME", restore.c_str(), 1);
    EXPECT_EQ(database.front(), '/');
}

}  // namespace
