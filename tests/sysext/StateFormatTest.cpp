#include <gtest/gtest.h>

#include <sstream>

#include "StateFormat.hpp"

namespace sysext {
namespace {

ServiceState richState() {
    ServiceState state;
    state.release = Release{15, 2, 1};
    state.developerMode = true;
    state.extensions["com.example.one"].live =
        LiveExtension{{"1.2.0", "17"}, LiveState::activatedWaitingForReboot};
    state.extensions["com.example.one"].uninstallingOnReboot = BundleVersion{"1.1.0", "9"};
    state.extensions["com.example.two"].live =
        LiveExtension{{"2.0", "1"}, LiveState::activatedWaitingForUser};
    state.policies = {{"com.example.two", Policy::deny}, {"com.example.one", Policy::allow}};
    state.approved = {"com.example.one", "org.other.x"};
    state.busy = {"com.example.one"};
    state.pendingApprovals["com.example.two"] = "123-4-567";
    return state;
}

const std::string richBytes =
    "veltrin-sysext-state 1\n"
    "release 15.2.1\n"
    "developer on\n"
    "extension com.example.one 1.2.0 17 activated waiting for reboot\n"
    "extension com.example.one 1.1.0 9 terminated waiting to uninstall on reboot\n"
    "extension com.example.two 2.0 1 activated waiting for user\n"
    "policy com.example.one allow\n"
    "policy com.example.two deny\n"
    "approved com.example.one\n"
    "approved org.other.x\n"
    "busy com.example.one\n"
    "pending com.example.two 123-4-567\n"
    "end\n";

// The canonical text, read back; records in reverse order give the same state.
TEST(StateFormat, WritesTheCanonicalTextAndReadsItBackInAnyOrder) {
    const std::string fresh = "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\nend\n";
    EXPECT_EQ(serializeState(ServiceState{}), fresh);
    EXPECT_EQ(serializeState(richState()), richBytes);
    ASSERT_TRUE(parseRelease("12.7.6", 3));
    EXPECT_EQ(*parseRelease("12.7.6", 3), (Release{12, 7, 6}));
    std::vector<std::string> lines;
    std::istringstream in(richBytes);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line + "\n");
    }
    std::string reversed = lines.front();
    for (auto line = lines.rbegin() + 1; line != lines.rend() - 1; ++line) {
        reversed += *line;
    }
    for (const auto& [bytes, state] :
         {std::pair{richBytes, richState()}, std::pair{fresh, ServiceState{}},
          std::pair{reversed + "end\n", richState()}}) {
        const auto parsed = parseState(bytes);
        ASSERT_TRUE(parsed) << parsed.error();
        EXPECT_EQ(*parsed, state);
    }
}

struct Rejected {
    const char* name;
    std::string bytes;
    const char* messagePart;
};

const std::string head = "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n";

// Corrupt, truncated, huge or binary: rejected, with a message that says why.
TEST(StateFormat, RejectsDamageWithAMessageThatSaysWhy) {
    for (const auto& [name, bytes, messagePart] : std::vector<Rejected>{
             {"Empty", "", "empty"},
             {"NoLineEnd", head + "end", "cut short"},
             {"NoEndLine", head, "no \"end\""},
             {"OtherHeader", "veltrin-sysext-state 2\nrelease 14.0.0\ndeveloper off\nend\n",
              "line 1"},
             {"TextAfterEnd", head + "end\nbusy com.a.b\n", "after the \"end\""},
             {"MissingRelease", "veltrin-sysext-state 1\ndeveloper off\nend\n", "missing"},
             {"UnknownRecord", head + "frobnicate x\nend\n", "unknown record"},
             {"BadIdentifier", head + "approved ../../etc\nend\n", "line 4: malformed"},
             {"CarriageReturn", head + "busy com.a.b\r\nend\n", "byte 0x0d"},
             {"NulByte", head + std::string("busy com.a\0.b\nend\n", 18), "byte 0x00"},
             {"UnknownState", head + "extension com.a.b 1.0 1 activated dancing\nend\n",
              "unknown extension state"},
             {"TwoLiveVersions",
              head + "extension com.a.b 1.0 1 activated enabled\n"
                     "extension com.a.b 2.0 1 activated enabled\nend\n",
              "second active"},
             {"PolicyMaybe", head + "policy com.a.b maybe\nend\n", "\"allow\" or \"deny\""},
             {"TwoPending", head + "pending com.a.b t1\npending com.a.b t2\nend\n",
              "second pending"},
             {"Huge", head + std::string(largestStateFile, '\n') + "end\n",
              "larger than 1048576"}}) {
        const auto parsed = parseState(bytes);
        ASSERT_FALSE(parsed) << name;
        EXPECT_NE(parsed.error().find(messagePart), std::string::npos)
            << name << ": " << parsed.error();
    }
    for (std::size_t length = 0; length < richBytes.size(); ++length) {
        EXPECT_FALSE(parseState(std::string_view(richBytes).substr(0, length)))
            << "accepted the first " << length << " bytes";
    }
    for (const char* bad : {"", "1", "1.2", "1.2.3.4", "1..3", "a.b.c", "1.2.3 ", "+1.2.3",
                            "-1.0.0", "1234567890.0.0"}) {
        EXPECT_FALSE(parseRelease(bad, 3)) << bad;
    }
}

TEST(StateFormat, AcceptsAFileUpToTheCap) {
    std::string bytes = head;
    for (std::size_t index = 0; bytes.size() < largestStateFile - 40; ++index) {
        bytes += "approved com.example.n" + std::to_string(index) + "\n";
    }
    EXPECT_TRUE(parseState(bytes + "end\n"));
}

}  // namespace
}  // namespace sysext
