// Texts from outside (description, identifier, versions, arguments) reach every
// sink literally, and reach the unified log only as arguments of the constant
// format, never as the format.
#include "LauncherTest.hpp"

using fake::ActivityLog;
using fake::Answer;
using fake::Log;
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
    {"NonAscii",
     "Gr\xC3\xBC\xC3\x9F"
     "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
    {"Empty", ""},
    {"EmbeddedNul", std::string("a\0b", 3)},
    {"OneMebibyte", oneMebibyte()},
};

class HostileTest : public LauncherTest, public ::testing::WithParamInterface<Hostile> {};

// As a failure's description, as the identifier of an approval and of a replacement
// (a request for another identifier, answered like any other), and as both versions.
TEST_P(HostileTest, ReachesEverySinkLiterallyAndTheUnifiedLogOnlyAsAnArgument) {
    const std::string& h = GetParam().text;
    fake.createActivityLog();
    fake.launch({});
    fake.pressLoadButton();
    fake.runUntilIdle();
    auto foreign = platform::activationRequestForExtension(h, platform::mainQueue());
    foreign->setDelegate(&app());
    platform::submitRequest(foreign);
    fake.clearTrace();

    fake.answerFailed(0, h);
    fake.answerNeedsApproval(1);
    fake.answerReplacement(1, "1.0", "2.0");
    fake.answerReplacement(0, h, h + "!");
    fake.runUntilIdle();
    EXPECT_EQ(fake.trace(), concat({failed(0, h),
                                    approval(1, h),
                                    replacing(1, h, "1.0", "2.0"),
                                    {Answer(2, 1)},
                                    replacing(2, dext(), h, h + "!"),
                                    {Answer(3, 1)}}));
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTest, ::testing::ValuesIn(hostileTexts),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Arguments reach standard output only, each one quoted item: quotes, backslashes,
// control characters and bytes that are not UTF-8 escaped, directives left alone.
TEST_F(LauncherTest, HostileArgumentsReachOnlyStandardOutputEscaped) {
    fake.createActivityLog();
    fake.launch({"%@", "%s%n", "%d", "-install\n", "\xC3\xA9", "say \"hi\"", "back\\slash",
                 "tab\there", "\xFF", "\xE2\x80\xA8"});
    fake.runUntilNoTasksRemain();
    EXPECT_EQ(
        fake.trace(),
        concat({supportedLaunchStart(),
                {
                    Log(0, "Info:Command arguments="),
                    ActivityLog(0, line(0, "Info:Command arguments=")),
                    Stdout(0, "[\"" + programPath() +
                                  "\", \"%@\", \"%s%n\", \"%d\", \"-install\\n\", \"\xC3\xA9\", "
                                  "\"say \\\"hi\\\"\", \"back\\\\slash\", \"tab\\there\", "
                                  "\"\\x{FF}\", \"\\u{2028}\"]\n"),
                }}));
}

}  // namespace
