#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <tuple>
#include <vector>

#include "ScratchStateHome.hpp"

namespace sysext {
namespace {

using testing::ScratchStateHome;

int exitStatusOf(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST(StateStore, LivesUnderXdgStateHomeThenHomeAndWritesOnlyChanges) {
    ScratchStateHome home;
    const auto store = StateStore(locateStatePaths().value());
    EXPECT_EQ(store.paths().directory, home.root() / "state-home" / "veltrin-sysext");
    EXPECT_EQ(*store.read(), ServiceState{});
    EXPECT_FALSE(store.updateWith([](ServiceState&) {}));
    EXPECT_FALSE(std::filesystem::exists(store.paths().stateFile()));
    EXPECT_FALSE(store.updateWith([](ServiceState& s) { s.busy.insert("com.a.b"); }));
    EXPECT_EQ(home.stateBytes(),
              "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\nbusy com.a.b\nend\n");

    // A file where the directory should be stops root as well as anyone.
    std::filesystem::remove_all(home.root() / "state-home");
    std::ofstream(home.root() / "state-home") << "not a directory";
    EXPECT_NE(store.updateWith([](ServiceState&) {}).value().find("XDG_STATE_HOME"),
              std::string::npos);

    ::setenv("XDG_STATE_HOME", "relative/path", 1);
    EXPECT_EQ(locateStatePaths()->directory, home.root() / ".local" / "state" / "veltrin-sysext");
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("HOME", "", 1);
    EXPECT_NE(locateStatePaths().error().find("XDG_STATE_HOME"), std::string::npos);
}

// Root on a directory that someone else controls writes nowhere a link points:
// neither the directory nor a file in it is reached through one, and a directory
// that is not the user's alone is refused outright, as ssh refuses ~/.ssh.
TEST(StateStore, NeverFollowsALinkAndRefusesADirectoryOthersControl) {
    ScratchStateHome home;
    const StatePaths paths = home.paths();
    const std::filesystem::path victim = home.root() / "victim";
    const auto linkedAs = [&](const char* name) {
        return [&paths, &victim, name] {
            std::filesystem::create_directories(paths.directory);
            std::filesystem::create_symlink(victim, paths.directory / name);
        };
    };
    const auto directoryWithMode = [&](std::filesystem::perms mode) {
        return [&paths, mode] {
            std::filesystem::create_directories(paths.directory);
            std::filesystem::permissions(paths.directory, mode);
        };
    };
    const std::vector<std::tuple<const char*, std::function<void()>, std::string>> rows{
        {"directory",
         [&] {
             std::filesystem::create_directories(paths.directory.parent_path());
             std::filesystem::create_directory(victim);
             std::filesystem::create_directory_symlink(victim, paths.directory);
         },
         "directory \"" + paths.directory.string() + "\": it is a symbolic link."},
        {"state", linkedAs("state"), "cannot be used: it is a symbolic link."},
        {"lock", linkedAs("state.lock"), "lock file"},
        {"staged", linkedAs("state.new"), ""},
        {"group-writable",
         directoryWithMode(std::filesystem::perms::owner_all | std::filesystem::perms::group_all),
         "others may write to it (mode 0770)"},
        {"someone else's",
         [&] {
             std::filesystem::create_directories(paths.directory);
             if (::geteuid() == 0) {
                 ASSERT_EQ(::chown(paths.directory.c_str(), 1, 1), 0);
             }
         },
         ::geteuid() == 0 ? "it belongs to user 1, not to you (user 0)" : ""},
    };
    for (const auto& [name, arrange, refusal] : rows) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(paths.directory);
        std::filesystem::remove_all(victim);
        arrange();
        const auto problem =
            StateStore(paths).updateWith([](ServiceState& s) { s.busy.insert("com.a.b"); });
        if (refusal.empty()) {
            EXPECT_FALSE(problem) << *problem;
        } else {
            ASSERT_TRUE(problem);
            EXPECT_NE(problem->find(refusal), std::string::npos) << *problem;
        }
        EXPECT_TRUE(!std::filesystem::exists(victim) ||
                    (std::filesystem::is_directory(victim) && std::filesystem::is_empty(victim)))
            << "written through a link";
    }
}

// A writer killed after staging its update, half of it, as a crash or a kill
// would leave it before the rename: the previous state survives whole, and the
// lock goes with the writer. Then writers in several processes at once: no
// update is lost.
TEST(StateStoreProcesses, AWriterKilledMidUpdateOrManyAtOnceLoseNothing) {
    ScratchStateHome home;
    const StateStore store(home.paths());
    ASSERT_FALSE(store.updateWith([](ServiceState& s) { s.approved.insert("com.before.crash"); }));
    const std::string before = home.stateBytes();
    const pid_t child = ::fork();
    if (child == 0) {
        auto lock = StateLock::acquire(home.paths(), LockMode::exclusive);
        writeStagedState(*lock, "veltrin-sysext-state 1\nrelease 1");
        ::raise(SIGKILL);
    }
    EXPECT_TRUE(WIFSIGNALED(exitStatusOf(child)));
    EXPECT_EQ(home.stateBytes(), before);

    constexpr int writers = 4;
    constexpr int updatesEach = 60;
    std::vector<pid_t> children;
    for (int writer = 0; writer < writers; ++writer) {
        children.push_back(::fork());
        if (children.back() == 0) {
            bool allWent = true;
            for (int update = 0; update < updatesEach; ++update) {
                allWent = !store.updateWith([](ServiceState& s) { s.release.patch += 1; }) &&
                          store.read() && allWent;
            }
            ::_exit(allWent ? 0 : 1);
        }
    }
    for (const pid_t writer : children) {
        const int status = exitStatusOf(writer);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto after = store.read();
    EXPECT_EQ(after->release.patch, writers * updatesEach) << "an update was lost";
    EXPECT_EQ(after->approved, std::set<std::string>{"com.before.crash"});
}

}  // namespace
}  // namespace sysext
