// The small pieces on their own: the log formatter, the release classes and their
// messages, the file URL, the argument report and the flag selection.
// (The report through a launch: HostileStringsTest; flag rules: LaunchTest.)
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/UnifiedLog.hpp"
#include "veltrin_Driverkit_Launcher/ArgumentReport.hpp"
#include "veltrin_Driverkit_Launcher/FileURL.hpp"
#include "veltrin_Driverkit_Launcher/LaunchMode.hpp"
#include "veltrin_Driverkit_Launcher/MacOSVersion.hpp"

namespace {

using platform::formatLogMessage;
using Args = std::vector<platform::LogArgument>;

std::string format(platform::LogFormat f, const Args& arguments) {
    return formatLogMessage(f, std::span<const platform::LogArgument>(arguments));
}

// ---------------------------------------------------------------- formatLogMessage

TEST(FormatLogMessage, FillsTextAndIntegerDirectivesWithAllSixtyFourBits) {
    EXPECT_EQ(format("Info:Replacing extension %@ version %@ with version %@", {"id", "1", "2"}),
              "Info:Replacing extension id version 1 with version 2");
    EXPECT_EQ(format("file URL = %s", {"file:///x"}), "file URL = file:///x");
    EXPECT_EQ(format("Error:Unexpected result %d for system extension request", {std::int64_t{-1}}),
              "Error:Unexpected result -1 for system extension request");
    EXPECT_EQ(format("%d", {std::numeric_limits<std::int64_t>::min()}), "-9223372036854775808");
    EXPECT_EQ(format("%d", {std::numeric_limits<std::int64_t>::max()}), "9223372036854775807");
    EXPECT_EQ(format("%d", {std::int64_t{4294967296}}), "4294967296");
    const std::string value("a\0b\nc", 5);  // copied whole
    EXPECT_EQ(format("[%@]", {std::string_view(value)}), "[" + value + "]");
}

TEST(FormatLogMessage, InterpretsNothingButItsOwnDirectives) {
    EXPECT_EQ(format("a %@ b %@", {"%@%s%n%d%%", "second"}), "a %@%s%n%d%% b second");
    EXPECT_EQ(format("%s", {"%s"}), "%s");
    EXPECT_EQ(format("100%% sure", {}), "100% sure");
    EXPECT_EQ(format("%%d", {std::int64_t{1}}), "%d");
    EXPECT_EQ(format("%%%d", {std::int64_t{1}}), "%1");
    // missing arguments and type mismatches leave the directive as written
    EXPECT_EQ(format("x %@ y %d z %s", {}), "x %@ y %d z %s");
    EXPECT_EQ(format("%@ and %@", {"one"}), "one and %@");
    EXPECT_EQ(format("%d", {"text"}), "%d");
    EXPECT_EQ(format("%@", {std::int64_t{5}}), "%@");
    EXPECT_EQ(format("%x %n %ld 50%", {std::int64_t{1}, "t"}), "%x %n %ld 50%");
    EXPECT_EQ(format("", {}), "");
}

// ---------------------------------------------------------------- MacOSVersion and versionMessages

TEST(MacOSVersion, RawValueSevenIsKeptAndEqualsNoNamedValue) {
    const launcher::MacOSVersion seven{7};
    EXPECT_EQ(seven.rawValue, 7u);
    EXPECT_NE(seven, launcher::MacOSVersion::unsupported);
    EXPECT_NE(seven, launcher::MacOSVersion::bigSur);
    EXPECT_NE(seven, launcher::MacOSVersion::monterey);
    EXPECT_NE(seven, launcher::MacOSVersion::venturaOrLater);
    EXPECT_EQ(seven, launcher::MacOSVersion{7});
    EXPECT_EQ(launcher::MacOSVersion{0xFFFFFFFFu}.rawValue, 0xFFFFFFFFu);
}

TEST(VersionMessages, FourTextsByteForByteAndNoFifth) {
    const auto& messages = launcher::versionMessages();
    EXPECT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages.at(0), "This is an unsupported operating System");
    EXPECT_EQ(
        messages.at(1),
        "This version only runs on macOS Big Sur. If you upgrade, you must install a new version");
    EXPECT_EQ(
        messages.at(2),
        "This version only runs on macOS Monterey. If you upgrade, you must install a new version");
    EXPECT_EQ(messages.at(3),
              "This version only runs on macOS Ventura and above. If you upgrade, please check for "
              "a new version");
    EXPECT_EQ(messages.find(4), messages.end());
    EXPECT_EQ(&launcher::versionMessages(), &messages);  // built once
}

// ---------------------------------------------------------------- FileURL

TEST(FileURL, AbsoluteStringPercentEncodesWhatAURLPathMayNotHold) {
    using launcher::FileURL;
    EXPECT_EQ(FileURL::fileURLWithPath("/home/user/veltrinLogFile.txt").absoluteString(),
              "file:///home/user/veltrinLogFile.txt");
    EXPECT_EQ(FileURL::fileURLWithPath("/tmp/a b/\xC3\xBC%#?\"<>[]^`{|}\\").absoluteString(),
              "file:///tmp/a%20b/%C3%BC%25%23%3F%22%3C%3E%5B%5D%5E%60%7B%7C%7D%5C");
    EXPECT_EQ(FileURL::fileURLWithPath("/x-._~!$&'()*+,;=:@/y").absoluteString(),
              "file:///x-._~!$&'()*+,;=:@/y");
    EXPECT_EQ(FileURL::fileURLWithPath("/n\nl\x7F").absoluteString(), "file:///n%0Al%7F");
}

TEST(FileURL, AppendingPathComponentJoinsWithOneSlash) {
    using launcher::FileURL;
    EXPECT_EQ(
        FileURL::fileURLWithPath("/home/u").appendingPathComponent("veltrinLogFile.txt").path(),
        "/home/u/veltrinLogFile.txt");
    EXPECT_EQ(
        FileURL::fileURLWithPath("/home/u/").appendingPathComponent("veltrinLogFile.txt").path(),
        "/home/u/veltrinLogFile.txt");
    EXPECT_EQ(FileURL::fileURLWithPath("/").appendingPathComponent("veltrinLogFile.txt").path(),
              "/veltrinLogFile.txt");
}

// ---------------------------------------------------------------- the argument report

TEST(ArgumentReport, EachArgumentQuotedWithQuoteAndBackslashEscaped) {
    EXPECT_EQ(launcher::argumentReportLine({"/p"}), "[\"/p\"]\n");
    EXPECT_EQ(launcher::argumentReportLine({"/p", "-install", ""}),
              "[\"/p\", \"-install\", \"\"]\n");
    EXPECT_EQ(launcher::argumentReportLine({}), "[]\n");
    EXPECT_EQ(launcher::argumentReportLine({"a\"b", "c\\d", "\\\""}),
              "[\"a\\\"b\", \"c\\\\d\", \"\\\\\\\"\"]\n");
    EXPECT_EQ(launcher::argumentReportLine({"\xC2\xA0\xC3\xBC\xE6\x97\xA5\xF0\x9F\x98\x80 %@"}),
              "[\"\xC2\xA0\xC3\xBC\xE6\x97\xA5\xF0\x9F\x98\x80 %@\"]\n");
}

TEST(ArgumentReport, ControlCharactersAndBytesThatAreNotUtf8AreEscaped) {
    EXPECT_EQ(launcher::argumentReportLine({std::string("\0\t\n\r", 4)}), "[\"\\0\\t\\n\\r\"]\n");
    EXPECT_EQ(launcher::argumentReportLine({"\x01\x1B\x1F\x7F"}),
              "[\"\\u{1}\\u{1B}\\u{1F}\\u{7F}\"]\n");
    // C1 controls and the line and paragraph separators
    EXPECT_EQ(launcher::argumentReportLine({"\xC2\x80\xC2\x85\xC2\x9F\xE2\x80\xA8\xE2\x80\xA9"}),
              "[\"\\u{80}\\u{85}\\u{9F}\\u{2028}\\u{2029}\"]\n");
    EXPECT_EQ(launcher::argumentReportLine({"\xFF"}), "[\"\\x{FF}\"]\n");
    EXPECT_EQ(launcher::argumentReportLine({"a\xC3"}), "[\"a\\x{C3}\"]\n");           // cut short
    EXPECT_EQ(launcher::argumentReportLine({"\xC0\xAF"}), "[\"\\x{C0}\\x{AF}\"]\n");  // overlong
    EXPECT_EQ(launcher::argumentReportLine({"\xED\xA0\x80"}),
              "[\"\\x{ED}\\x{A0}\\x{80}\"]\n");  // surrogate
    EXPECT_EQ(launcher::argumentReportLine({"\xF4\x90\x80\x80"}),
              "[\"\\x{F4}\\x{90}\\x{80}\\x{80}\"]\n");  // past U+10FFFF
    EXPECT_EQ(launcher::argumentReportLine({"\x80z"}), "[\"\\x{80}z\"]\n");
}

// ---------------------------------------------------------------- flag selection alone

TEST(SelectLaunchMode, AFlagWithAnEmbeddedNulIsNoFlag) {
    EXPECT_EQ(launcher::selectLaunchMode({"p", std::string("-install\0", 9)}),
              launcher::LaunchMode::interactive);
}

}  // namespace
