// Texts from outside (description, identifier, versions, arguments) reach every
// sink literally, and reach the unified log only as arguments of the constant
// format, never as the format.
#include "LauncherTest.hpp"

using fake::ActivityLog;
using fake::Answer;
using fake::Log;
using fake::Status;
using fake::Stdout;

namespace {

struct Hostile {
    const char* name;
    std::string text;
};

std::string oneMebibyte() {
    std::string text;
    const std::string piece = "%@%s%n%d%%\n\xC3\xA9\xE2\x9C\x93 ";  // 16 bytes
    while (text.size() < (1u << 20)) {
        text += piece;
    }
    text.resize(1u << 20);
    return text;
}

const Hostile hostileTexts[] = {
    {"ObjectDirective", "%@"},
    {"StringDirective", "%s"},
    {"WriteDirective", "%n"},
    {"IntegerDirective", "%d"},
    {"Mixed", "a%@b%s%n%d%%%x%"},
    {"LineFeed", "first\nsecond"},
    {"CarriageReturnLineFeed", "first\r\nsecond"},
    {"NonAscii", "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
    {"Empty", ""},
    {"EmbeddedNul", std::string("a\0b", 3)},
    {"OneMebibyte", oneMebibyte()},
};

class HostileTest : public LauncherTest, public ::testing::WithParamInterface<Hostile> {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        fake.createActivityLog();
        fake.launch({});
        fake.clearTrace();
    }
    // A request for another identifier, answered like any other.
    std::size_t submitForeignRequest(const std::string& identifier) {
        auto request = platform::activationRequestForExtension(identifier, platform::mainQueue());
        request->setDelegate(&app());
        platform::submitRequest(request);
        fake.clearTrace();
        return fake.requests().size() - 1;
    }
};

TEST_P(HostileTest, DescriptionOfAFailure) {
    const std::string& d = GetParam().text;
    fake.pressLoadButton();
    fake.runUntilIdle();
    fake.clearTrace();
    fake.answerFailed(0, d);
    fake.runUntilIdle();
    EXPECT_EQ(fake.trace(), (fake::Trace{
        ActivityLog(0, "05/12/2026 07:41:39:Error:System extension request failed: " + d + "\r\n"),
        Log(0, "Error:System extension request failed: %@", {d}),
        Status(0, "System extension request failed: " + d),
    }));
}

TEST_P(HostileTest, IdentifierOfAnApprovalRequest) {
    const std::string& i = GetParam().text;
    fake.answerNeedsApproval(submitForeignRequest(i));
    fake.runUntilIdle();
    EXPECT_EQ(fake.trace(), (fake::Trace{
        ActivityLog(0, "05/12/2026 07:41:39:Info:System Extension " + i + " requires user approval\r\n"),
        Log(0, "Info:System Extension %@ requires user approval", {i}),
        Status(0, "Extension " + i + " requires user approval"),
    }));
}

TEST_P(HostileTest, IdentifierOfAReplacement) {
    const std::string& i = GetParam().text;
    fake.answerReplacement(submitForeignRequest(i), "1.0", "2.0");
    fake.runUntilIdle();
    EXPECT_EQ(fake.trace(), (fake::Trace{
        ActivityLog(0, "05/12/2026 07:41:39:Info:Replacing extension " + i + " version 1.0 with version 2.0\r\n"),
        Log(0, "Info:Replacing extension %@ version %@ with version %@", {i, "1.0", "2.0"}),
        Status(0, "Replacing extension " + i + " version 1.0 with version 2.0"),
        Answer(1, 1),
    }));
}

TEST_P(HostileTest, BothVersionsOfAReplacement) {
    const std::string& v = GetParam().text;
    fake.pressLoadButton();
    fake.runUntilIdle();
    fake.clearTrace();
    fake.answerReplacement(0, v, v + "!");
    fake.runUntilIdle();
    EXPECT_EQ(fake.trace(), (fake::Trace{
        ActivityLog(0, "05/12/2026 07:41:39:Info:Replacing extension " + dext() + " version " + v + " with version " + v + "!\r\n"),
        Log(0, "Info:Replacing extension %@ version %@ with version %@", {dext(), v, v + "!"}),
        Status(0, "Replacing extension " + dext() + " version " + v + " with version " + v + "!"),
        Answer(1, 1),
    }));
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTest, ::testing::ValuesIn(hostileTexts),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LauncherTest, EmptyVersionsLeaveTheLiteralPiecesSideBySide) {
    fake.createActivityLog();
    fake.launch({});
    fake.pressLoadButton();
    fake.runUntilIdle();
    fake.answerReplacement(0, "", "");
    fake.runUntilIdle();
    EXPECT_EQ(fake.messageBox()->stringValue(),
              "Replacing extension " + dext() + " version  with version ");
}

TEST_F(LauncherTest, HostileArgumentsReachTheUnifiedLogNowhereAndStandardOutputEscaped) {
    fake.createActivityLog();
    fake.launch({"%@", "%s%n", "%d", "-install\n", "\xC3\xA9"});
    fake.runUntilNoTasksRemain();
    for (const fake::Event& event : fake.trace()) {
        if (event.sink == fake::Sink::unifiedLog) {
            EXPECT_TRUE(event.text == "file URL = %s" || event.text == "Info:Command arguments=")
                << event;
        }
    }
    EXPECT_EQ(fake.trace().back(),
              Stdout(0, "[\"" + programPath() + "\", \"%@\", \"%s%n\", \"%d\", \"-install\\n\", \"\xC3\xA9\"]\n"));
    EXPECT_EQ(fake.activityLogBytes(), "05/12/2026 07:41:39:Info:Command arguments=\r\n");
}

}  // namespace
