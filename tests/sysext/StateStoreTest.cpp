#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

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
    auto paths = locateStatePaths();
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->directory, home.root() / "state-home" / "veltrin-sysext");
    const auto store = StateStore(*paths);
    EXPECT_EQ(*store.read(), ServiceState{});
    EXPECT_FALSE(store.updateWith([](ServiceState&) {}));
    EXPECT_FALSE(std::filesystem::exists(paths->stateFile()));
    EXPECT_FALSE(store.updateWith([](ServiceState& s) { s.busy.insert("com.a.b"); }));
    EXPECT_EQ(home.stateBytes(),
              "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\nbusy com.a.b\nend\n");
    EXPECT_FALSE(std::filesystem::exists(paths->stagedFile()));

    // A file where the directory should be stops root as well as anyone.
    std::filesystem::remove_all(home.root() / "state-home");
    std::ofstream(home.root() / "state-home") << "not a directory";
    const auto problem = store.updateWith([](ServiceState& s) { s.developerMode = true; });
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->find("XDG_STATE_HOME"), std::string::npos) << *problem;

    ::setenv("XDG_STATE_HOME", "relative/path", 1);
    EXPECT_EQ(locateStatePaths()->directory, home.root() / ".local" / "state" / "veltrin-sysext");
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("HOME", "", 1);
    EXPECT_NE(locateStatePaths().error().find("XDG_STATE_HOME"), std::string::npos);
}

// The writer dies after staging its update, as a crash or a kill would leave it
// before the rename: the previous state survives whole.
TEST(StateStoreCrash, AWriterKilledMidUpdateLeavesThePreviousStateWhole) {
    ScratchStateHome home;
    const auto store = home.store();
    ASSERT_FALSE(store.updateWith([](ServiceState& s) { s.approved.insert("com.before.crash"); }));
    const std::string before = home.stateBytes();
    const pid_t child = ::fork();
    if (child == 0) {
        auto lock = StateLock::acquire(home.paths(), LockMode::exclusive);
        writeStagedState(home.paths(), "veltrin-sysext-state 1\nrelease 1");
        ::raise(SIGKILL);
    }
    EXPECT_TRUE(WIFSIGNALED(exitStatusOf(child)));
    EXPECT_EQ(home.stateBytes(), before);
    // The dead writer's lock went with it, and its leftovers do not get in the way.
    ASSERT_FALSE(store.updateWith([](ServiceState& s) { s.busy.insert("com.after.crash"); }));
    EXPECT_EQ(home.stateBytes(),
              before.substr(0, before.size() - 4) + "busy com.after.crash\nend\n");
}

TEST(StateStoreConcurrency, UpdatesFromManyProcessesAtOnceAreAllKept) {
    ScratchStateHome home;
    constexpr int writers = 4;
    constexpr int updatesEach = 60;
    std::vector<pid_t> children;
    for (int writer = 0; writer < writers; ++writer) {
        children.push_back(::fork());
        if (children.back() == 0) {
            bool allWent = true;
            for (int update = 0; update < updatesEach; ++update) {
                allWent = !home.store().updateWith([](ServiceState& s) { s.release.patch += 1; }) &&
                          home.store().read() && allWent;
            }
            ::_exit(allWent ? 0 : 1);
        }
    }
    for (const pid_t child : children) {
        const int status = exitStatusOf(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(home.store().read()->release.patch, writers * updatesEach) << "an update was lost";
}

}  // namespace
}  // namespace sysext
