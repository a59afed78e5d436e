// The state on disk and the control tool that changes it: the tool's verbs in
// turn, with what each prints, and its refusals (a damaged state, links, a
// directory others control): a message, a non-zero exit, and the state byte for
// byte as it was. Then several processes on one state.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "ScratchStateHome.hpp"
#include "StateFormat.hpp"
#include "Sysextctl.hpp"

namespace sysext {
namespace {

namespace fs = std::filesystem;

// Runs the tool with `words` (split at blanks) after putting `before` in the
// state's place, unless empty: the file's bytes, or after "$ " a command run in a
// fresh state directory, as an accident or an attacker leaves it (../../victim is
// where an attacker wants a file written). Words "=" run nothing: the state file
// holds `out`.
struct Step {
    std::string words;
    int status;
    std::string out;
    std::string err = "";  // all of it, or of a refusal a part
    std::string before = "";
};

TEST(Sysextctl, VerbsShowAndChangeTheStateAndRefusalsLeaveItAlone) {
    const testing::ScratchStateHome home;
    const StatePaths paths = home.paths();
    const fs::path victim = home.root / "victim";
    enum { ok = exitSuccess, refused = exitStateProblem, usage = exitUsage };
    const std::string head = "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n";
    const std::string unknown =
        "sysextctl: no request for com.a.b is known yet (kept for when one comes); known: "
        "com.a.one com.a.two\n";
    // Within 26 bytes of the largest state the service reads back.
    std::string nearlyFull = head;
    for (int i = 100000; nearlyFull.size() < largestStateFile - 30; ++i) {
        nearlyFull += "approved com.pad." + std::to_string(i) + "\n";
    }
    const std::vector<Step> script{
        {"list", ok,
         "com.a.one 1.0.0 (1) [activated enabled]\ncom.a.two 2.0 (3) [activated waiting for user]\n"
         "com.a.two 1.5 (2) [terminated waiting to uninstall on reboot]\n",
         "",
         head + "extension com.a.one 1.0.0 1 activated enabled\n"
                "extension com.a.two 2.0 3 activated waiting for user\n"
                "extension com.a.two 1.5 2 terminated waiting to uninstall on reboot\nend\n"},
        {"approve com.a.two", ok, ""},
        {"reboot", ok, ""},
        {"policy com.a.b deny", ok, "", unknown},
        {"busy com.a.b on", ok, "", unknown},
        {"approve com.a.b", ok, "", unknown},
        {"fail com.a.one 13", ok, ""},
        {"release 11.7", ok, ""},
        {"release", ok, "11.7.0\n"},
        {"developer on", ok, ""},
        {"=", ok,
         "veltrin-sysext-state 1\nrelease 11.7.0\ndeveloper on\n"
         "extension com.a.one 1.0.0 1 activated enabled\nextension com.a.two 2.0 3 activated "
         "enabled\n"
         "policy com.a.b deny\napproved com.a.b\napproved com.a.two\nbusy com.a.b\n"
         "fail com.a.one 13\nend\n"},
        {"", usage, "", "no verb given\nRun \"sysextctl help\" for the verbs.\n"},
        {"approve", usage, "", "takes 1 argument, got 0"},
        {"policy com.a.b maybe", usage, "", "\"allow\" or \"deny\""},
        {"fail com.a.b 1000000000", usage, "", "an error code is a number from 1 to 999999999"},
        // Outside bytes are shown escaped, as the launcher shows its arguments.
        {"LI\x1b[2JST", usage, "", "unknown verb \"LI\\u{1B}[2JST\""},
        {"approve com.a\nb", usage, "", "\"com.a\\nb\" is not a bundle identifier"},
        {"release 1\xff", usage, "", "\"1\\x{FF}\" is not a release"},
        // Refused whole, and nothing said as if it had been kept.
        {"approve com.a.newcomer.approved", refused, "", "would grow past 1048576",
         nearlyFull + "end\n"},
        {"list", refused, "", "cannot be used: line 1: not a", std::string(64, '\0')},
        // Never a hang on a pipe; reset clears whatever took the file's place.
        {"busy com.a.b on", refused, "", "not a regular file", "$ mkfifo state"},
        {"reset", ok, "", "", "$ mkdir state"},
        {"list", ok, "nothing is installed\n"},
        // Root on a directory someone else controls writes nowhere a link points, and
        // refuses a directory that is not the user's alone, as ssh refuses ~/.ssh.
        {"release 13.0.0", refused, "", "\": it is a symbolic link. Point",
         "$ cd .. && mv veltrin-sysext ../victim && ln -s ../victim veltrin-sysext"},
        {"release 13.0.0", refused, "", "cannot be used: it is a symbolic link.",
         "$ ln -s ../../victim state"},
        {"release 13.0.0", refused, "", "lock file", "$ ln -s ../../victim state.lock"},
        {"release 13.0.0", ok, "", "", "$ ln -s ../../victim state.new"},
        {"release 13.0.0", refused, "", "others may write to it (mode 0770)", "$ chmod 770 ."},
        {"release 13.0.0", refused, "", "belongs to user 1, not to you (user 0)", "$ chown 1 ."},
    };
    const auto prepare = [&](const std::string& what) {
        fs::remove_all(victim);
        fs::remove_all(paths.directory);
        fs::create_directories(paths.directory);
        fs::permissions(paths.directory, fs::perms::owner_all);
        if (!what.starts_with("$ ")) {
            return home.writeStateBytes(what);
        }
        const std::string command = "cd '" + paths.directory.string() + "' && " + what.substr(2);
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    };
    const auto bytes = [&] {
        return fs::is_regular_file(paths.stateFile()) ? home.stateBytes() : "-";
    };
    for (const auto& [words, status, out, err, before] : script) {
        SCOPED_TRACE(words + " (" + out + err + ")");
        // Only root can give the directory to another user.
        if (words == "=" || (before.starts_with("$ chown") && ::geteuid() != 0)) {
            EXPECT_TRUE(words != "=" || bytes() == out) << bytes();
            continue;
        }
        if (!before.empty()) {
            prepare(before);
        }
        std::vector<std::string> arguments;
        std::istringstream split(words);
        for (std::string word; std::getline(split, word, ' ');) {
            arguments.push_back(word);
        }
        const std::string was = bytes();
        std::ostringstream output;
        std::ostringstream errors;
        EXPECT_EQ(runSysextctl(arguments, output, errors), status);
        // A refusal is one line (and the way to the verbs after a usage error) and
        // leaves the state as it was; a link is never written through.
        const std::string said = errors.str();
        EXPECT_EQ(output.str(), out);
        EXPECT_TRUE(status == ok
                        ? said == err
                        : said.starts_with("sysextctl: ") && said.find(err) != std::string::npos &&
                              std::ranges::count(said, '\n') == (status == usage ? 2 : 1))
            << said;
        EXPECT_TRUE(status == ok || bytes() == was) << bytes();
        EXPECT_TRUE(!fs::exists(victim) || fs::is_empty(victim)) << "written through a link";
    }
    // The state is under XDG_STATE_HOME when that is absolute, else under HOME.
    ::setenv("XDG_STATE_HOME", "relative", 1);
    EXPECT_EQ(locateStatePaths()->directory, home.root / ".local/state/veltrin-sysext");
    ::setenv("HOME", "", 1);
    EXPECT_NE(locateStatePaths().error().message.find("XDG_STATE_HOME"), std::string::npos);
}

// Writers in several processes at once, each a read and an update in turn: no
// update is lost and nothing else changes.
TEST(StateStoreProcesses, ManyWritersAtOnceLoseNothing) {
    const testing::ScratchStateHome home;
    const StateStore store(home.paths());
    ASSERT_TRUE(store.updateWith([](ServiceState& s) { s.approved.insert("com.a.b"); }));
    constexpr int writers = 4;
    constexpr int updatesEach = 60;
    for (int writer = 0; writer < writers; ++writer) {
        if (::fork() == 0) {
            bool allWent = true;
            for (int update = 0; update < updatesEach; ++update) {
                allWent = store.updateWith([](ServiceState& s) { s.release.patch += 1; }) &&
                          store.read() && allWent;
            }
            ::_exit(allWent ? 0 : 1);
        }
    }
    for (int writer = 0, status = 0; writer < writers; ++writer) {
        EXPECT_TRUE(::wait(&status) > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto after = store.read();
    EXPECT_EQ(after->release.patch, writers * updatesEach) << "an update was lost";
    EXPECT_EQ(after->approved, std::set<std::string>{"com.a.b"});
}

}  // namespace
}  // namespace sysext
