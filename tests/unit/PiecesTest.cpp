// The small pieces on their own: the log formatter, the file URL, the argument
// report and the flag selection.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/UnifiedLog.hpp"
#include "veltrin_Driverkit_Launcher/ArgumentReport.hpp"
#include "veltrin_Driverkit_Launcher/FileURL.hpp"
#include "veltrin_Driverkit_Launcher/LaunchMode.hpp"

namespace {

using std::int64_t;
using Args = std::vector<platform::LogArgument>;

struct Formatted {
    platform::LogFormat format;
    Args arguments;
    std::string text;
};

// %% is a percent sign; a directive without its argument, or of another type,
// stays as written. (Every report's own directives, all 64 bits of %d and
// arguments never read as formats: the scenario and hostile-text tests.)
TEST(FormatLogMessage, FillsItsOwnDirectivesOnly) {
    for (const Formatted& row :
         std::vector<Formatted>{{"100%% %%d %%%d", {int64_t{1}}, "100% %d %1"},
                                {"%@ and %@", {"one"}, "one and %@"},
                                {"%d", {"text"}, "%d"},
                                {"%@", {int64_t{5}}, "%@"},
                                {"%x %n %ld 50%", {int64_t{1}, "t"}, "%x %n %ld 50%"}}) {
        EXPECT_EQ(platform::formatLogMessage(row.format, row.arguments), row.text) << row.text;
    }
}

TEST(FileURL, PercentEncodesWhatAPathMayNotHoldAndJoinsWithOneSlash) {
    using launcher::FileURL;
    EXPECT_EQ(FileURL::fileURLWithPath("/tmp/a b/\xC3\xBC%#?\"<>[]^`{|}\\\n").absoluteString(),
              "file:///tmp/a%20b/%C3%BC%25%23%3F%22%3C%3E%5B%5D%5E%60%7B%7C%7D%5C%0A");
    EXPECT_EQ(FileURL::fileURLWithPath("/x-._~!$&'()*+,;=:@/y").absoluteString(),
              "file:///x-._~!$&'()*+,;=:@/y");
    for (const char* home : {"/home/u", "/home/u/"}) {
        EXPECT_EQ(FileURL::fileURLWithPath(home).appendingPathComponent("f.txt").path(),
                  "/home/u/f.txt");
    }
}

// Each argument quoted; quotes, backslashes, controls, separators and bytes
// that are not UTF-8 (cut short, overlong, surrogate, past U+10FFFF) escaped.
TEST(ArgumentReport, QuotesEachArgumentAndEscapesWhatMustNotShow) {
    EXPECT_EQ(launcher::argumentReportLine({}), "[]\n");
    EXPECT_EQ(launcher::argumentReportLine(
                  {"/p", "", "a\"b", "c\\d", "\xC2\xA0\xF0\x9F\x98\x80 %@", std::string("\0\t", 2),
                   "\n\r\x01\x1F\x7F", "\xC2\x80\xC2\x9F\xE2\x80\xA8\xE2\x80\xA9", "a\xC3",
                   "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80z"}),
              "[\"/p\", \"\", \"a\\\"b\", \"c\\\\d\", \"\xC2\xA0\xF0\x9F\x98\x80 %@\", "
              "\"\\0\\t\", \"\\n\\r\\u{1}\\u{1F}\\u{7F}\", \"\\u{80}\\u{9F}\\u{2028}\\u{2029}\", "
              "\"a\\x{C3}\", \"\\x{C0}\\x{AF}\", \"\\x{ED}\\x{A0}\\x{80}\", "
              "\"\\x{F4}\\x{90}\\x{80}\\x{80}\", \"\\x{80}z\"]\n");
}

// The first of -install, -uninstall, -installInteractive present wins, exactly
// spelt, anywhere, the program path included.
TEST(SelectLaunchMode, TheFirstFlagInTestOrderWins) {
    using enum launcher::LaunchMode;
    const std::vector<std::pair<std::vector<std::string>, launcher::LaunchMode>> rows{
        {{"p", "-uninstall", "-install"}, install},
        {{"p", "-installInteractive", "-install"}, install},
        {{"p", "-installInteractive", "-uninstall"}, uninstall},
        {{"p", "x", "-installInteractive", "y"}, installInteractive},
        {{"-uninstall"}, uninstall},
        {{}, interactive},
        {{"p", "-Install", "--install", "-install ", "install", "-install=1", "-uninstal",
          "-installinteractive", std::string("-install\0", 9)},
         interactive}};
    for (const auto& [arguments, mode] : rows) {
        EXPECT_EQ(launcher::selectLaunchMode(arguments), mode) << arguments.size();
    }
}

}  // namespace
