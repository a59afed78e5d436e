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

TEST(StateStore, LivesUnderXdgStateHomeThenHomeAndWritesOnlyChanges) {
    ScratchStateHome home;
    auto paths = locateStatePaths();
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->directory, home.root() / "state-home" / "veltrin-sysext");
    const auto store = StateStore(*paths);
    const auto state = store.read();
    ASSERT_TRUE(state) << state.error();
    EXPECT_EQ(*state, ServiceState{});
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
    paths = locateStatePaths();
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->directory, home.root() / ".local" / "state" / "veltrin-sysext");
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("HOME", "", 1);
    paths = locateStatePaths();
    ASSERT_FALSE(paths);
    EXPECT_NE(paths.error().find("XDG_STATE_HOME"), std::string::npos);
}

// Damaged bytes (the format tests have every kind), or no file at all in its place: an
// error that names the file and the way out, never a hang, never a rewrite.
TEST(StateStore, ADamagedStateIsReportedAndNeverRewritten) {
    for (const std::string& damage :
         {std::string("veltrin-sysext-state 1\nrelease 14.0.0\n\x01\xff garbage"),
          std::string("fifo"), std::string("directory")}) {
        SCOPED_TRACE(damage.substr(0, 40));
        ScratchStateHome home;
        const auto store = home.store();
        const auto file = home.paths().stateFile();
        home.writeStateBytes(damage);
        if (damage == "fifo" || damage == "directory") {
            std::filesystem::remove(file);
            ASSERT_TRUE(damage == "fifo" ? ::mkfifo(file.c_str(), 0600) == 0
                                         : std::filesystem::create_directory(file));
        }
        bool changeRan = false;
        const auto problem = store.updateWith([&](ServiceState&) { changeRan = true; });
        ASSERT_TRUE(problem);
        EXPECT_NE(problem->find("\"" + file.string() + "\" cannot be used"), std::string::npos);
        EXPECT_NE(problem->find("sysextctl reset"), std::string::npos) << *problem;
        EXPECT_FALSE(changeRan);
        const auto state = store.read();
        ASSERT_FALSE(state);
        EXPECT_EQ(state.error(), *problem);
        if (std::filesystem::is_regular_file(file)) {
            EXPECT_EQ(home.stateBytes(), damage);
            EXPECT_FALSE(store.reset());
            EXPECT_TRUE(store.read());
        }
    }
}

// The writer dies after staging its update, or while staging it, as a crash
// or a kill would leave it: the previous state survives whole.
TEST(StateStoreCrash, AWriterKilledMidUpdateLeavesThePreviousStateWhole) {
    ScratchStateHome home;
    const auto store = home.store();
    ASSERT_FALSE(store.updateWith([](ServiceState& s) { s.approved.insert("com.before.crash"); }));
    const std::string before = home.stateBytes();
    ServiceState next;
    next.developerMode = true;
    for (const bool staged : {true, false}) {
        const pid_t child = ::fork();
        if (child == 0) {
            auto lock = StateLock::acquire(home.paths(), LockMode::exclusive);
            if (staged) {
                writeStagedState(home.paths(), serializeState(next));
            } else {
                std::ofstream(home.paths().stagedFile())
                    << "veltrin-sysext-state 1\nrelease 1" << std::flush;
            }
            ::raise(SIGKILL);
        }
        EXPECT_TRUE(WIFSIGNALED(exitStatusOf(child)));
        EXPECT_EQ(home.stateBytes(), before);
    }
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
                const std::string id =
                    "com.w" + std::to_string(writer) + ".n" + std::to_string(update);
                allWent = !home.store().updateWith([&](ServiceState& s) {
                    s.approved.insert(id);
                    s.release.patch += 1;
                }) && home.store().read() &&
                          allWent;
            }
            ::_exit(allWent ? 0 : 1);
        }
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
