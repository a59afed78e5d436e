#include <gtest/gtest.h>

#include <fstream>

#include "DextBundle.hpp"
#include "Identifier.hpp"
#include "ScratchStateHome.hpp"
#include "ServiceErrors.hpp"

namespace sysext {
namespace {

const std::string goodInfo =
    "veltrin-dext-bundle 1\nidentifier com.example.driver\nshort-version 1.2.0\nbuild 42\n";

// A good one is read, and found beside the executable, through the requests. (What
// an identifier and a version may be: below.)
TEST(BundleInfo, RejectsAnythingElse) {
    EXPECT_TRUE(parseBundleInfo(goodInfo));
    for (const std::string& bad : std::vector<std::string>{
             std::string{},
             goodInfo.substr(0, goodInfo.size() - 1),
             goodInfo + "extra line\n",
             "veltrin-dext-bundle 2\nidentifier com.example.driver\nshort-version 1\nbuild 1\n",
             "veltrin-dext-bundle 1\nidentifier com.example.driver\nbuild 1\nshort-version 1\n",
             "veltrin-dext-bundle 1\nidentifier com.example.driver\nshort-version 1\nbuild \n",
         }) {
        EXPECT_FALSE(parseBundleInfo(bad)) << bad;
    }
    // A bundle that names another extension than its place.
    const testing::ScratchStateHome home;
    const auto path = bundleInfoPath(home.root(), "com.example.other");
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << goodInfo;
    EXPECT_EQ(std::get<platform::Error>(loadBundle(home.root(), "com.example.other")).code,
              ErrorCode::validationFailed);
}

TEST(Identifiers, AreReverseDnsAndVersionsDottedNumbers) {
    EXPECT_TRUE(isBundleIdentifier("a-b.c9"));
    for (const char* bad : {"", "com", ".com.a", "com.a.", "com..a", "com.a b", "com/a.b",
                            "com.a_b", "com.\xc3\xa9t\xc3\xa9"}) {
        EXPECT_FALSE(isBundleIdentifier(bad)) << bad;
    }
    EXPECT_FALSE(isBundleIdentifier("a." + std::string(300, 'b')));
    EXPECT_TRUE(isDottedVersion("10.0.3"));
    for (const char* bad : {"", ".", "1.", ".1", "1..2", "1.a", "v1", "-1"}) {
        EXPECT_FALSE(isDottedVersion(bad)) << bad;
    }
}

}  // namespace
}  // namespace sysext
