#include <gtest/gtest.h>

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
    state.policies["com.example.two"] = Policy::deny;
    state.policies["com.example.one"] = Policy::allow;
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

TEST(StateFormat, WritesTheCanonicalTextAndReadsItBack) {
    EXPECT_EQ(serializeState(richState()), richBytes);
    const auto parsed = parseState(richBytes);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(*parsed, richState());
}

TEST(StateFormat, AFreshStateRoundTrips) {
    const auto bytes = serializeState(ServiceState{});
    EXPECT_EQ(bytes, "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\nend\n");
    const auto parsed = parseState(bytes);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(*parsed, ServiceState{});
}

TEST(StateFormat, RecordsInAnyOrderGiveTheSameState) {
    const std::string shuffled =
        "veltrin-sysext-state 1\n"
        "pending com.example.two 123-4-567\n"
        "busy com.example.one\n"
        "approved org.other.x\n"
        "extension com.example.two 2.0 1 activated waiting for user\n"
        "policy com.example.two deny\n"
        "extension com.example.one 1.1.0 9 terminated waiting to uninstall on reboot\n"
        "developer on\n"
        "approved com.example.one\n"
        "extension com.example.one 1.2.0 17 activated waiting for reboot\n"
        "policy com.example.one allow\n"
        "release 15.2.1\n"
        "end\n";
    const auto parsed = parseState(shuffled);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(serializeState(*parsed), richBytes);
}

struct Rejected {
    const char* name;
    std::string bytes;
    const char* messagePart;
};

class StateFormatRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(StateFormatRejects, WithAMessageThatSaysWhy) {
    const auto parsed = parseState(GetParam().bytes);
    ASSERT_FALSE(parsed);
    EXPECT_NE(parsed.error().find(GetParam().messagePart), std::string::npos) << parsed.error();
}

const std::string head = "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n";

INSTANTIATE_TEST_SUITE_P(
    Corrupt, StateFormatRejects,
    ::testing::Values(
        Rejected{"Empty", "", "empty"}, Rejected{"NoLineEnd", head + "end", "cut short"},
        Rejected{"NoEndLine", head, "no \"end\""},
        Rejected{"OtherHeader", "veltrin-sysext-state 2\nrelease 14.0.0\ndeveloper off\nend\n",
                 "line 1"},
        Rejected{"TextAfterEnd", head + "end\nbusy com.a.b\n", "after the \"end\""},
        Rejected{"MissingRelease", "veltrin-sysext-state 1\ndeveloper off\nend\n", "missing"},
        Rejected{"TwoReleases", head + "release 13.0.0\nend\n", "second \"release\""},
        Rejected{"ReleaseTwoParts", "veltrin-sysext-state 1\nrelease 14.0\ndeveloper off\nend\n",
                 "X.Y.Z"},
        Rejected{"ReleaseNegative", "veltrin-sysext-state 1\nrelease -1.0.0\ndeveloper off\nend\n",
                 "X.Y.Z"},
        Rejected{"ReleaseTooLong",
                 "veltrin-sysext-state 1\nrelease 99999999999999999999.0.0\ndeveloper off\nend\n",
                 "X.Y.Z"},
        Rejected{"DeveloperMaybe", "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper maybe\nend\n",
                 "\"on\""},
        Rejected{"UnknownRecord", head + "frobnicate x\nend\n", "unknown record"},
        Rejected{"KeywordAlone", head + "busy\nend\n", "without a value"},
        Rejected{"BadIdentifier", head + "approved ../../etc\nend\n", "line 4: malformed"},
        Rejected{"TrailingBlank", head + "busy com.a.b \nend\n", "malformed"},
        Rejected{"CarriageReturn", head + "busy com.a.b\r\nend\n", "byte 0x0d"},
        Rejected{"NulByte", head + std::string("busy com.a\0.b\nend\n", 18), "byte 0x00"},
        Rejected{"NonAscii", head + "busy com.\xc3\xa9.b\nend\n", "byte 0xc3"},
        Rejected{"UnknownState", head + "extension com.a.b 1.0 1 activated dancing\nend\n",
                 "unknown extension state"},
        Rejected{"VersionWithLetters", head + "extension com.a.b 1.0a 1 activated enabled\nend\n",
                 "malformed version"},
        Rejected{"TwoLiveVersions",
                 head + "extension com.a.b 1.0 1 activated enabled\n"
                        "extension com.a.b 2.0 1 activated enabled\nend\n",
                 "second active"},
        Rejected{"TwoPolicies", head + "policy com.a.b allow\npolicy com.a.b deny\nend\n",
                 "second policy"},
        Rejected{"PolicyMaybe", head + "policy com.a.b maybe\nend\n", "\"allow\" or \"deny\""},
        Rejected{"ApprovedTwice", head + "approved com.a.b\napproved com.a.b\nend\n", "twice"},
        Rejected{"TwoPending", head + "pending com.a.b t1\npending com.a.b t2\nend\n",
                 "second pending"},
        Rejected{"BadToken", head + "pending com.a.b t_1\nend\n", "token"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(StateFormat, EveryTruncationOfAValidFileIsRejected) {
    for (std::size_t length = 0; length < richBytes.size(); ++length) {
        EXPECT_FALSE(parseState(std::string_view(richBytes).substr(0, length)))
            << "accepted the first " << length << " bytes";
    }
}

TEST(StateFormat, RejectsAFileAboveTheCapBeforeLookingAtIt) {
    std::string huge = head;
    while (huge.size() <= largestStateFile) {
        huge += "busy com.example.filler\n";
    }
    const auto parsed = parseState(huge);
    ASSERT_FALSE(parsed);
    EXPECT_NE(parsed.error().find("larger than 1048576"), std::string::npos);
}

TEST(StateFormat, AcceptsAFileRightAtTheCap) {
    std::string bytes = head;
    std::size_t index = 0;
    const std::string end = "end\n";
    while (bytes.size() + end.size() < largestStateFile - 40) {
        bytes += "approved com.example.n" + std::to_string(index++) + "\n";
    }
    bytes += end;
    EXPECT_TRUE(parseState(bytes));
}

TEST(StateFormat, ReleaseText) {
    EXPECT_EQ(releaseText(Release{13, 0, 0}), "13.0.0");
    ASSERT_TRUE(parseRelease("12.7.6"));
    EXPECT_EQ(*parseRelease("12.7.6"), (Release{12, 7, 6}));
    for (const char* bad :
         {"", "1", "1.2", "1.2.3.4", "1..3", "a.b.c", "1.2.3 ", "+1.2.3", "1234567890.0.0"}) {
        EXPECT_FALSE(parseRelease(bad)) << bad;
    }
}

}  // namespace
}  // namespace sysext
