// The state file's text. The fuzzer checks that whatever is read writes back as
// itself and that nothing crashes the reader; here, the canonical text and the
// rules each rejection stands for. What each record means, the decisions pin.
#include <gtest/gtest.h>

#include "StateFormat.hpp"

namespace sysext {
namespace {

const std::string head = "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n";

// Every kind of record, in the order the writer puts them.
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

// The canonical text reads back as itself, and a file right up to the cap is read.
// (The decisions' states put their records in other orders.)
TEST(StateFormat, WritesTheCanonicalTextAndReadsAFileUpToTheCap) {
    EXPECT_EQ(serializeState(ServiceState{}), head + "end\n");
    EXPECT_EQ(*parseState(head + "end\n"), ServiceState{});
    const auto rich = parseState(richBytes);
    ASSERT_TRUE(rich) << rich.error();
    EXPECT_EQ(serializeState(*rich), richBytes);
    std::string bytes = head;
    for (std::size_t index = 0; bytes.size() < largestStateFile - 40; ++index) {
        bytes += "approved com.example.n" + std::to_string(index) + "\n";
    }
    EXPECT_TRUE(parseState(bytes + "end\n"));
}

// Corrupt, truncated, huge or binary: rejected, with a message that says why. (A
// file cut short and one of another kind are among the control tool's cases.)
TEST(StateFormat, RejectsDamageWithAMessageThatSaysWhy) {
    for (const auto& [bytes, messagePart] : std::vector<std::pair<std::string, std::string>>{
             {head + "end\nbusy com.a.b\n", "after the \"end\""},
             {"veltrin-sysext-state 1\ndeveloper off\nend\n", "missing"},
             {head + "frobnicate x\nend\n", "unknown record"},
             {head + "approved ../../etc\nend\n", "line 4: malformed"},
             {head + "busy com.a.b\r\nend\n", "byte 0x0d"},
             {head + std::string("busy com.a\0.b\nend\n", 18), "byte 0x00"},
             {head + "extension com.a.b 1.0 1 activated dancing\nend\n", "unknown extension state"},
             {head + "extension com.a.b 1.0 1 activated enabled\n"
                     "extension com.a.b 2.0 1 activated enabled\nend\n",
              "second active"},
             {head + "policy com.a.b maybe\nend\n", "\"allow\" or \"deny\""},
             {head + "pending com.a.b t1\npending com.a.b t2\nend\n", "second pending"},
             {head + std::string(largestStateFile, '\n') + "end\n", "larger than 1048576"}}) {
        const auto parsed = parseState(bytes);
        ASSERT_FALSE(parsed) << bytes.substr(0, 100);
        EXPECT_NE(parsed.error().find(messagePart), std::string::npos) << parsed.error();
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

}  // namespace
}  // namespace sysext
