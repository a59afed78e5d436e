// The small pieces on their own: the file URL, the argument report and the
// README's reference. (The log formatter and the command line: the fuzzers'
// properties, and the scenarios; -status's report: the scenarios.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LauncherTest.hpp"
#include "veltrin_Driverkit_Launcher/ArgumentReport.hpp"
#include "veltrin_Driverkit_Launcher/FailureAdvice.hpp"
#include "veltrin_Driverkit_Launcher/FileURL.hpp"

namespace {

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

// The README's reference is the program's own: the -help text as it stands, and
// one troubleshooting row per error code with its sentence; other errors get none.
TEST(Documentation, TheReadmeHoldsTheHelpAndEveryFailureSentence) {
    const std::string readme = fake::wholeFile(VELTRIN_README);
    EXPECT_NE(readme.find("```text\n" + launcher::helpText() + "```\n"), std::string::npos);
    for (const launcher::FailureAdvice& row : launcher::failureAdviceTable()) {
        const std::string line = "| " + std::to_string(row.code) + " | `" + std::string(row.name) +
                                 "` | " + std::string(row.sentence) + " |\n";
        EXPECT_NE(readme.find(line), std::string::npos) << line;
    }
    for (const platform::Error& other : {platform::Error{"NSPOSIXErrorDomain", 1, ""},
                                         platform::Error{"OSSystemExtensionErrorDomain", 14, ""}}) {
        EXPECT_TRUE(launcher::adviceFor(other).ends_with("the system log may say more.\n"));
    }
}

}  // namespace
