// The state file's text and the names and numbers in it. The fuzzer checks that whatever is read
// writes back as itself and that nothing crashes the reader; here, the canonical text and that
// damage is rejected, saying why. What each record means, the decisions pin; a file up to the size
// cap is read in the control tool's table.
#include <gtest/gtest.h>

#include "StateFormat.hpp"

namespace sysext {
namespace {

const std::string head = "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n";

// Every kind of record, in the order the writer puts them.
const std::string richBytes =
    "veltrin-sysext-state 1\nrelease 15.2.1\ndeveloper on\n"
    "extension com.example.one 1.2.0 17 activated waiting for reboot\n"
    "extension com.example.one 1.1.0 9 terminated waiting to uninstall on reboot\n"
    "extension com.example.two 2.0 1 activated waiting for user\n"
    "policy com.example.one allow\npolicy com.example.two deny\n"
    "approved com.example.one\napproved org.other-2.x\nbusy com.example.one\n"
    "pending com.example.two 123-4-567\nfail com.example.two 13\nend\n";

// The canonical text, and damage of every kind, and any file cut short, any
// record twice, any byte no state file holds, any malformed name or version:
// rejected, saying why. (A file of another kind is among the control tool's cases.)
TEST(StateFormat, WritesTheCanonicalTextAndRejectsDamageSayingWhy) {
    EXPECT_EQ(serializeState(ServiceState{}), head + "end\n");
    const auto rich = parseState(richBytes);
    ASSERT_TRUE(rich) << rich.error().message;
    EXPECT_EQ(serializeState(*rich), richBytes);
    std::vector<std::pair<std::string, std::string>> damaged{
        {"", "empty file"},
        {head + "end\nbusy com.a.b\n", "after the \"end\""},
        {"veltrin-sysext-state 1\ndeveloper off\nend\n", "missing"},
        {head + "frobnicate x\nend\n", "unknown record"},
        {head + "busy com.a.b\r\nend\n", "line 4: byte 0x0d"},
        {head + "extension com.a.b 1.0 1 activated dancing\nend\n", "unknown extension state"},
        {head + "policy com.a.b maybe\nend\n", "\"allow\" or \"deny\""},
        {head + std::string(largestStateFile, '\n') + "end\n", "larger than 1048576"}};
    for (std::size_t length = 1; length < richBytes.size(); ++length) {
        damaged.emplace_back(richBytes.substr(0, length), "cut short");
    }
    for (std::size_t line = head.size(), next = 0; line < richBytes.size() - 4; line = next) {
        next = richBytes.find('\n', line) + 1;
        damaged.emplace_back(richBytes.substr(0, next) + richBytes.substr(line), "");
    }
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != '\n' && (byte < 0x20 || byte > 0x7e)) {
            damaged.emplace_back(head + "busy com.a" + char(byte) + ".b\nend\n", "line 4: byte 0x");
        }
    }
    for (const std::string& name :
         std::vector<std::string>{"com", ".com.a", "com.a.", "com..a", "com/a.b", "../../etc",
                                  "com.a_b", "a." + std::string(300, 'b')}) {
        damaged.emplace_back(head + "busy " + name + "\nend\n", "line 4: malformed identifier");
    }
    for (const char* version : {".", "1.", ".1", "1..2", "1.a", "v1", "-1"}) {
        damaged.emplace_back(head + "extension com.a.b " + version + " 1 activated enabled\nend\n",
                             "malformed version");
    }
    for (const auto& [bytes, why] : damaged) {
        const auto parsed = parseState(bytes);
        ASSERT_FALSE(parsed) << bytes.substr(0, 100);
        EXPECT_NE(parsed.error().message.find(why), std::string::npos) << parsed.error().message;
    }
}

}  // namespace
}  // namespace sysext
