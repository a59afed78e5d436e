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

TEST(BundleInfo, ReadsIdentifierAndBothVersions) {
    const auto bundle = parseBundleInfo(goodInfo);
    ASSERT_TRUE(bundle) << bundle.error();
    EXPECT_EQ(*bundle, (DextBundle{"com.example.driver", {"1.2.0", "42"}}));
}

TEST(BundleInfo, RejectsAnythingElse) {
    for (const std::string& bad : std::vector<std::string>{
             std::string{},
             goodInfo.substr(0, goodInfo.size() - 1),
             goodInfo + "extra line\n",
             "veltrin-dext-bundle 2\nidentifier com.example.driver\nshort-version 1\nbuild 1\n",
             "veltrin-dext-bundle 1\nidentifier driver\nshort-version 1\nbuild 1\n",
             "veltrin-dext-bundle 1\nidentifier com.example.driver\nshort-version 1.x\nbuild 1\n",
             "veltrin-dext-bundle 1\nidentifier com.example.driver\nbuild 1\nshort-version 1\n",
             "veltrin-dext-bundle 1\nidentifier com.example.driver\nshort-version 1\nbuild \n",
             std::string(5000, 'x'),
         }) {
        EXPECT_FALSE(parseBundleInfo(bad)) << bad;
    }
}

class BundleBeside : public ::testing::Test {
  protected:
    void writeInfo(const std::string& identifier, const std::string& bytes) {
        const auto path = bundleInfoPath(home.root(), identifier);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    testing::ScratchStateHome home;
};

TEST_F(BundleBeside, IsFoundByItsIdentifier) {
    writeInfo("com.example.driver", goodInfo);
    const auto found = loadBundle(home.root(), "com.example.driver");
    ASSERT_TRUE(std::holds_alternative<DextBundle>(found));
    EXPECT_EQ(std::get<DextBundle>(found).version, (BundleVersion{"1.2.0", "42"}));
}

TEST_F(BundleBeside, MissingSaysWhereItWasLookedFor) {
    const auto found = loadBundle(home.root(), "com.example.driver");
    const auto* error = std::get_if<platform::Error>(&found);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ErrorCode::extensionNotFound);
    EXPECT_NE(error->localizedDescription.find(
                  bundleInfoPath(home.root(), "com.example.driver").string()),
              std::string::npos)
        << error->localizedDescription;
}

TEST_F(BundleBeside, NamingAnotherExtensionIsInvalid) {
    writeInfo("com.example.other", goodInfo);
    const auto found = loadBundle(home.root(), "com.example.other");
    const auto* error = std::get_if<platform::Error>(&found);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ErrorCode::validationFailed);
}

TEST(Identifiers, AreReverseDnsAndVersionsDottedNumbers) {
    EXPECT_TRUE(isBundleIdentifier("com.veltrin.driverkit.VeltrinDriver"));
    EXPECT_TRUE(isBundleIdentifier("a-b.c9"));
    for (const char* bad : {"", "com", ".com.a", "com.a.", "com..a", "com.a b", "com/a.b",
                            "com.a_b", "com.\xc3\xa9t\xc3\xa9"}) {
        EXPECT_FALSE(isBundleIdentifier(bad)) << bad;
    }
    EXPECT_FALSE(isBundleIdentifier("a." + std::string(300, 'b')));
    EXPECT_TRUE(isDottedVersion("1"));
    EXPECT_TRUE(isDottedVersion("10.0.3"));
    for (const char* bad : {"", ".", "1.", ".1", "1..2", "1.a", "v1", "-1"}) {
        EXPECT_FALSE(isDottedVersion(bad)) << bad;
    }
}

}  // namespace
}  // namespace sysext
