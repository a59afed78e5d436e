// The control tool's verbs in turn, with what each prints, and its refusals: a
// message, a non-zero exit, and the state byte for byte as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "ScratchStateHome.hpp"
#include "StateFormat.hpp"
#include "Sysextctl.hpp"

namespace sysext {
namespace {

struct Step {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err = "";  // of a refusal: a part of it
    // The whole state after the step, when not empty; a refusal finds it there
    // already ("fifo" and "directory" stand for those in the file's place).
    std::string state = "";
};

TEST(Sysextctl, VerbsShowAndChangeTheStateAndRefusalsLeaveItAlone) {
    const testing::ScratchStateHome home;
    const auto file = home.paths().stateFile();
    home.writeStateBytes(
        "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n"
        "extension com.a.one 1.0.0 1 activated enabled\n"
        "extension com.a.two 2.0 3 activated waiting for user\n"
        "extension com.a.two 1.5 2 terminated waiting to uninstall on reboot\nend\n");
    const std::string unknown =
        "sysextctl: no request for com.a.b is known yet (kept for when one comes); known: "
        "com.a.one com.a.two\n";
    const std::string unusable = "\"" + file.string() + "\" cannot be used: ";
    const std::string cut = "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper";
    // A state a few bytes short of the largest the service reads back.
    ServiceState nearlyFull;
    const auto line = [](const std::string& identifier) { return "approved " + identifier + "\n"; };
    std::size_t size = serializeState(nearlyFull).size();
    for (int i = 0; size < largestStateFile - 200; ++i) {
        const std::string identifier = "com.pad." + std::to_string(i);
        nearlyFull.approved.insert(identifier);
        size += line(identifier).size();
    }
    nearlyFull.approved.insert(
        "com.z" + std::string(largestStateFile - 5 - size - line("com.z").size(), 'z'));
    ASSERT_EQ(serializeState(nearlyFull).size(), largestStateFile - 5);
    const std::vector<Step> script{
        {{"list"},
         exitSuccess,
         "com.a.one 1.0.0 (1) [activated enabled]\n"
         "com.a.two 2.0 (3) [activated waiting for user]\n"
         "com.a.two 1.5 (2) [terminated waiting to uninstall on reboot]\n"},
        {{"approve", "com.a.two"}, exitSuccess, ""},
        {{"reboot"}, exitSuccess, ""},
        {{"policy", "com.a.b", "allow"}, exitSuccess, "", unknown},
        {{"policy", "com.a.b", "deny"}, exitSuccess, "", unknown},
        {{"busy", "com.a.b", "on"}, exitSuccess, "", unknown},
        {{"approve", "com.a.b"}, exitSuccess, "", unknown},
        {{"busy", "com.a.one", "on"}, exitSuccess, ""},
        {{"busy", "com.a.one", "off"}, exitSuccess, ""},
        {{"fail", "com.a.one", "13"}, exitSuccess, ""},
        {{"release", "11.7"}, exitSuccess, ""},
        {{"release"}, exitSuccess, "11.7.0\n"},
        {{"release", "15"}, exitSuccess, ""},
        {{"release"}, exitSuccess, "15.0.0\n"},
        {{"developer", "on"},
         exitSuccess,
         "",
         "",
         "veltrin-sysext-state 1\nrelease 15.0.0\ndeveloper on\n"
         "extension com.a.one 1.0.0 1 activated enabled\n"
         "extension com.a.two 2.0 3 activated enabled\n"
         "policy com.a.b deny\napproved com.a.b\napproved com.a.two\nbusy com.a.b\n"
         "fail com.a.one 13\nend\n"},
        {{"developer"}, exitSuccess, "on\n"},
        {{}, exitUsage, "", "no verb"},
        {{"LIST"}, exitUsage, "", "unknown verb \"LIST\""},
        {{"list", "extra"}, exitUsage, "", "takes 0 arguments, got 1"},
        {{"approve"}, exitUsage, "", "takes 1 argument, got 0"},
        {{"approve", "com.a.b/../x"}, exitUsage, "", "not a bundle identifier"},
        {{"policy", "com.a.b", "maybe"}, exitUsage, "", "\"allow\" or \"deny\""},
        {{"busy", "com.a.b", "yes"}, exitUsage, "", "\"on\" or \"off\""},
        {{"fail", "com.a.b", "0"}, exitUsage, "", "an error code is a number"},
        {{"release", "15."}, exitUsage, "", "\"15.\" is not a release"},
        {{"release", "14.0.0.1"}, exitUsage, "", "not a release"},
        // Outside bytes are shown escaped, as the launcher shows its arguments.
        {{"LI\x1b[2JST"}, exitUsage, "", "unknown verb \"LI\\u{1B}[2JST\""},
        {{"approve", "com.a\nb"}, exitUsage, "", "\"com.a\\nb\" is not a bundle identifier"},
        {{"release", "1\xff"}, exitUsage, "", "\"1\\x{FF}\" is not a release"},
        // Refused whole, and nothing said as if it had been kept.
        {{"approve", "com.a.new"},
         exitStateProblem,
         "",
         "would grow past 1048576 bytes",
         serializeState(nearlyFull)},
        {{"list"}, exitStateProblem, "", unusable + "line 1: not a", std::string(64, '\0')},
        {{"list"}, exitStateProblem, "", unusable + "cut short", cut},
        {{"release", "13.0.0"}, exitStateProblem, "", unusable + "cut short", cut},
        // Never a hang on a pipe, never a rewrite of what is not a file.
        {{"busy", "com.a.b", "on"}, exitStateProblem, "", "not a regular file", "fifo"},
        {{"list"}, exitStateProblem, "", unusable + "it is not a regular file", "directory"},
        {{"reset"}, exitSuccess, ""},
        {{"list"}, exitSuccess, "nothing is installed\n"},
    };
    // The file's bytes, or what stands for a pipe or a directory in its place.
    const auto bytes = [&](const std::string& otherwise) {
        return std::filesystem::is_regular_file(file) ? home.stateBytes() : otherwise;
    };
    for (const auto& [arguments, status, out, err, state] : script) {
        SCOPED_TRACE(arguments.empty() ? "" : arguments[0] + " (" + out + err + ")");
        if (status != exitSuccess && !state.empty()) {
            std::filesystem::remove_all(file);
            if (state == "fifo") {
                ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
            } else if (state == "directory") {
                std::filesystem::create_directory(file);
            } else {
                home.writeStateBytes(state);
            }
        }
        const std::string before = bytes(state);
        std::ostringstream output;
        std::ostringstream errors;
        EXPECT_EQ(runSysextctl(arguments, output, errors), status);
        EXPECT_EQ(output.str(), out);
        if (status == exitSuccess) {
            EXPECT_EQ(errors.str(), err);
            EXPECT_TRUE(state.empty() || bytes(state) == state) << bytes(state);
            continue;
        }
        EXPECT_NE(errors.str().find(err), std::string::npos) << errors.str();
        EXPECT_EQ(errors.str().find("sysextctl: ", 1), std::string::npos) << errors.str();
        EXPECT_TRUE(errors.str().starts_with("sysextctl: ") &&
                    errors.str().ends_with(
                        status == exitUsage ? "\nRun \"sysextctl help\" for the verbs.\n"
                                            : "run \"sysextctl reset\" (or remove that file).\n"))
            << errors.str();
        EXPECT_EQ(bytes(state), before);
    }
    std::ostringstream help;
    EXPECT_EQ(runSysextctl({"help"}, help, help), exitSuccess);
    EXPECT_TRUE(help.str().ends_with("(default ~/.local/state).\n"));
}

}  // namespace
}  // namespace sysext
