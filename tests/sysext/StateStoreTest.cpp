#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "ScratchStateHome.hpp"
#include "StateFormat.hpp"

namespace sysext {
namespace {

using testing::ScratchStateHome;

int exitStatusOf(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST(StatePaths, FollowXdgStateHomeThenHome) {
    ScratchStateHome home;
    auto paths = locateStatePaths();
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->directory, home.root() / "state-home" / "veltrin-sysext");

    ::setenv("XDG_STATE_HOME", "relative/path", 1);
    paths = locateStatePaths();
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->directory, home.root() / ".local" / "state" / "veltrin-sysext");

    ::unsetenv("XDG_STATE_HOME");
    ::setenv("HOME", "", 1);
    paths = locateStatePaths();
    ASSERT_FALSE(paths);
    EXPECT_NE(paths.error().find("XDG_STATE_HOME"), std::string::npos);
}

TEST(StateStore, AMissingFileIsAFreshStateAndReadingDoesNotCreateIt) {
    ScratchStateHome home;
    const auto state = home.store().read();
    ASSERT_TRUE(state) << state.error();
    EXPECT_EQ(*state, ServiceState{});
    EXPECT_FALSE(std::filesystem::exists(home.paths().stateFile()));
}

TEST(StateStore, WritesOnlyWhenTheStateChanges) {
    ScratchStateHome home;
    const auto store = home.store();
    EXPECT_FALSE(store.updateWith([](ServiceState&) {}));
    EXPECT_FALSE(std::filesystem::exists(home.paths().stateFile()));

    EXPECT_FALSE(store.updateWith([](ServiceState& state) { state.busy.insert("com.a.b"); }));
    EXPECT_EQ(home.stateBytes(),
              "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\nbusy com.a.b\nend\n");
    EXPECT_FALSE(std::filesystem::exists(home.paths().stagedFile()));
}

TEST(StateStore, ADamagedFileIsReportedWithItsPathAndNeverRewritten) {
    ScratchStateHome home;
    const std::string garbage = "veltrin-sysext-state 1\nrelease 14.0.0\n\x01\xff garbage";
    home.writeStateBytes(garbage);
    const auto store = home.store();
    bool changeRan = false;
    const auto problem = store.updateWith([&](ServiceState&) { changeRan = true; });
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->find(home.paths().stateFile().string()), std::string::npos);
    EXPECT_NE(problem->find("sysextctl reset"), std::string::npos);
    EXPECT_FALSE(changeRan);
    EXPECT_EQ(home.stateBytes(), garbage);

    EXPECT_FALSE(store.reset());
    EXPECT_TRUE(home.store().read());
}

TEST(StateStore, SomethingOtherThanAFileInItsPlaceIsAnErrorNotAHang) {
    ScratchStateHome home;
    std::filesystem::create_directories(home.paths().directory);
    ASSERT_EQ(::mkfifo(home.paths().stateFile().c_str(), 0600), 0);
    auto state = home.store().read();
    ASSERT_FALSE(state);
    EXPECT_NE(state.error().find("not a regular file"), std::string::npos);

    std::filesystem::remove(home.paths().stateFile());
    std::filesystem::create_directory(home.paths().stateFile());
    EXPECT_FALSE(home.store().read());
}

TEST(StateStore, AStateDirectoryThatCannotBeMadeIsReported) {
    ScratchStateHome home;
    // A file where the directory should be stops root as well as anyone.
    std::ofstream(home.root() / "state-home") << "not a directory";
    const auto problem = home.store().updateWith([](ServiceState& s) { s.developerMode = true; });
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->find("XDG_STATE_HOME"), std::string::npos) << *problem;
}

// The writer dies after staging its update but before putting it in place, as
// a crash or a kill would leave it.
TEST(StateStoreCrash, AWriterKilledMidUpdateLeavesThePreviousStateWhole) {
    ScratchStateHome home;
    const auto store = home.store();
    ASSERT_FALSE(store.updateWith([](ServiceState& s) { s.approved.insert("com.before.crash"); }));
    const std::string before = home.stateBytes();

    const pid_t staged = ::fork();
    if (staged == 0) {
        auto lock = StateLock::acquire(home.paths(), LockMode::exclusive);
        ServiceState next;
        next.developerMode = true;
        writeStagedState(home.paths(), serializeState(next));
        ::_exit(0);
    }
    ASSERT_EQ(exitStatusOf(staged), 0);

    const pid_t halfWritten = ::fork();
    if (halfWritten == 0) {
        auto lock = StateLock::acquire(home.paths(), LockMode::exclusive);
        std::ofstream partial(home.paths().stagedFile(), std::ios::trunc);
        partial << "veltrin-sysext-state 1\nrelease 1" << std::flush;
        ::raise(SIGKILL);
    }
    const int status = exitStatusOf(halfWritten);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(home.stateBytes(), before);
    ASSERT_TRUE(store.read());
    // The dead writer's lock went with it, and its leftovers do not get in the way.
    ASSERT_FALSE(store.updateWith([](ServiceState& s) { s.busy.insert("com.after.crash"); }));
    const auto after = store.read();
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->approved.contains("com.before.crash"));
    EXPECT_TRUE(after->busy.contains("com.after.crash"));
    EXPECT_FALSE(after->developerMode);
}

TEST(StateStoreConcurrency, UpdatesFromManyProcessesAtOnceAreAllKept) {
    ScratchStateHome home;
    constexpr int writers = 4;
    constexpr int updatesEach = 60;
    std::vector<pid_t> children;
    for (int writer = 0; writer < writers; ++writer) {
        const pid_t child = ::fork();
        if (child == 0) {
            const auto store = StateStore(home.paths());
            int failures = 0;
            for (int update = 0; update < updatesEach; ++update) {
                const std::string id =
                    "com.writer" + std::to_string(writer) + ".n" + std::to_string(update);
                failures += store.updateWith([&](ServiceState& s) {
                    s.approved.insert(id);
                    s.release.patch += 1;
                })
                                ? 1
                                : 0;
                failures += store.read() ? 0 : 1;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        const int status = exitStatusOf(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto state = home.store().read();
    ASSERT_TRUE(state) << state.error();
    EXPECT_EQ(state->approved.size(), std::size_t{writers * updatesEach});
    EXPECT_EQ(state->release.patch, writers * updatesEach) << "an update was lost";
}

}  // namespace
}  // namespace sysext
