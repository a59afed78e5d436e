#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "ScratchStateHome.hpp"
#include "Sysextctl.hpp"

namespace sysext {
namespace {

using testing::ScratchStateHome;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// The built tool, with the scratch state in its environment.
ToolRun sysextctl(const ScratchStateHome& home, const std::vector<std::string>& arguments) {
    std::string command = "'" SYSEXTCTL_PATH "'";
    for (const std::string& argument : arguments) {
        command += " '" + argument + "'";
    }
    const auto out = home.root() / "tool.out";
    const auto err = home.root() / "tool.err";
    const int status =
        std::system((command + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
    return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::readFileBytes(out),
                   testing::readFileBytes(err)};
}

// Each verb in turn, with what it prints; the state shows what they did.
TEST(Sysextctl, VerbsShowAndChangeTheState) {
    ScratchStateHome home;
    home.writeStateBytes(
        "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n"
        "extension com.a.one 1.0.0 1 activated enabled\n"
        "extension com.a.two 2.0 3 activated waiting for user\n"
        "extension com.a.two 1.5 2 terminated waiting to uninstall on reboot\nend\n");
    const std::string unknown =
        "sysextctl: no request for com.a.b is known yet (kept for when one comes); known: "
        "com.a.one com.a.two\n";
    struct Step {
        std::vector<std::string> arguments;
        std::string out;
        std::string err = "";
    };
    const std::vector<Step> script{
        {{"list"},
         "com.a.one 1.0.0 (1) [activated enabled]\n"
         "com.a.two 2.0 (3) [activated waiting for user]\n"
         "com.a.two 1.5 (2) [terminated waiting to uninstall on reboot]\n"},
        {{"approve", "com.a.two"}, ""},
        {{"reboot"}, ""},
        {{"list"},
         "com.a.one 1.0.0 (1) [activated enabled]\n"
         "com.a.two 2.0 (3) [activated enabled]\n"},
        {{"policy", "com.a.b", "allow"}, "", unknown},
        {{"policy", "com.a.b", "deny"}, "", unknown},
        {{"busy", "com.a.b", "on"}, "", unknown},
        {{"approve", "com.a.b"}, "", unknown},
        {{"busy", "com.a.one", "on"}, ""},
        {{"busy", "com.a.one", "off"}, ""},
        {{"release", "11.7"}, ""},
        {{"release"}, "11.7.0\n"},
        {{"release", "15"}, ""},
        {{"release"}, "15.0.0\n"},
        {{"release", "12.7.6"}, ""},
        {{"release"}, "12.7.6\n"},
        {{"developer", "on"}, ""},
        {{"developer"}, "on\n"},
    };
    for (const auto& [arguments, out, err] : script) {
        const ToolRun run = sysextctl(home, arguments);
        EXPECT_EQ(run.status, exitSuccess) << arguments[0];
        EXPECT_EQ(run.out, out) << arguments[0];
        EXPECT_EQ(run.err, err) << arguments[0];
    }
    EXPECT_EQ(home.stateBytes(),
              "veltrin-sysext-state 1\nrelease 12.7.6\ndeveloper on\n"
              "extension com.a.one 1.0.0 1 activated enabled\n"
              "extension com.a.two 2.0 3 activated enabled\n"
              "policy com.a.b deny\napproved com.a.b\napproved com.a.two\nbusy com.a.b\nend\n");
    EXPECT_EQ(sysextctl(home, {"help"}).out.back(), '\n');
    EXPECT_EQ(sysextctl(home, {"reset"}).status, exitSuccess);
    EXPECT_EQ(home.stateBytes(), "");
    EXPECT_EQ(sysextctl(home, {"list"}).out, "nothing is installed\n");
    home.writeStateBytes(std::string(64, '\0'));
    EXPECT_NE(sysextctl(home, {"list"}).err.find(": not a state file"), std::string::npos);
    std::filesystem::remove(home.paths().stateFile());
    std::filesystem::create_directories(home.paths().stateFile() / "x");
    EXPECT_EQ(sysextctl(home, {"reset"}).status, exitSuccess);
    EXPECT_FALSE(std::filesystem::exists(home.paths().stateFile()));
}

const std::string good =
    "veltrin-sysext-state 1\nrelease 13.1.0\ndeveloper off\napproved com.a.b\nend\n";
// Damaged in every way the state file can be: cut short, binary, not text.
const std::string damagedState(
    "veltrin-sysext-state 1\nrelease 14.0.0\n\x7f"
    "ELF\x02\0\0",
    45);

using BadInput = std::pair<std::string, std::vector<std::string>>;

class SysextctlBadInput : public ::testing::TestWithParam<BadInput> {};

// Bad arguments, or a damaged state for any verb but reset: a message, a
// non-zero exit, and the state byte for byte as it was.
TEST_P(SysextctlBadInput, IsRefusedWithAMessageAndTheStateStaysByteForByte) {
    ScratchStateHome home;
    home.writeStateBytes(GetParam().first);
    const bool damaged = GetParam().first == damagedState;
    const ToolRun run = sysextctl(home, GetParam().second);
    EXPECT_EQ(run.status, damaged ? exitStateProblem : exitUsage);
    EXPECT_EQ(run.err.rfind("sysextctl: ", 0), 0u) << run.err;
    EXPECT_NE(
        run.err.find(damaged ? "sysextctl reset" : "\nRun \"sysextctl help\" for the verbs.\n"),
        std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(home.stateBytes(), GetParam().first);
    EXPECT_EQ(damaged, run.err.find(home.paths().stateFile().string()) != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SysextctlBadInput,
    ::testing::Values(
        BadInput{good, {}}, BadInput{good, {"LIST"}}, BadInput{good, {"list", "extra"}},
        BadInput{good, {"approve"}}, BadInput{good, {"approve", "com.a.b/../x"}},
        BadInput{good, {"policy", "com.a.b", "maybe"}}, BadInput{good, {"busy", "com.a.b", "yes"}},
        BadInput{good, {"release", "15."}}, BadInput{good, {"release", "14.0.0.1"}},
        BadInput{good, {"developer", "ON"}}, BadInput{good, {"reset", "all"}},
        BadInput{damagedState, {"list"}}, BadInput{damagedState, {"release", "13.0.0"}}));

}  // namespace
}  // namespace sysext
