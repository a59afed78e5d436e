#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
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
    namespace fs = std::filesystem;
    ScratchStateHome home;
    const StatePaths paths = home.paths();
    const fs::path victim = home.root() / "victim";
    const bool root = ::geteuid() == 0;
    // A link in the state directory ("" : the directory itself is one), its mode, its owner.
    struct Row {
        const char* link;
        fs::perms mode;
        uid_t owner;
        std::string refusal;
    };
    for (const auto& [link, mode, owner, refusal] : std::vector<Row>{
             {"", fs::perms::owner_all, 0, "\": it is a symbolic link."},
             {"state", fs::perms::owner_all, 0, "cannot be used: it is a symbolic link."},
             {"state.lock", fs::perms::owner_all, 0, "lock file"},
             {"state.new", fs::perms::owner_all, 0, ""},
             {nullptr, fs::perms::owner_all | fs::perms::group_all, 0,
              "others may write to it (mode 0770)"},
             {nullptr, fs::perms::owner_all, root ? 1U : 0U,
              root ? "it belongs to user 1, not to you (user 0)" : ""}}) {
        SCOPED_TRACE(link == nullptr ? refusal : link);
        fs::remove_all(paths.directory);
        fs::remove_all(victim);
        fs::create_directories(paths.directory.parent_path());
        if (link != nullptr && *link == '\0') {
            fs::create_directory(victim);
            fs::create_directory_symlink(victim, paths.directory);
        } else {
            fs::create_directory(paths.directory);
            fs::permissions(paths.directory, mode);
            if (link != nullptr) {
                fs::create_symlink(victim, paths.directory / link);
            }
            ASSERT_TRUE(owner == 0 || ::chown(paths.directory.c_str(), owner, owner) == 0);
        }
        const auto problem =
            StateStore(paths).updateWith([](ServiceState& s) { s.busy.insert("com.a.b"); });
        EXPECT_EQ(problem.has_value(), !refusal.empty()) << problem.value_or("");
        EXPECT_NE(problem.value_or("").find(refusal), std::string::npos) << problem.value_or("");
        EXPECT_TRUE(!fs::exists(victim) || (fs::is_directory(victim) && fs::is_empty(victim)))
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
