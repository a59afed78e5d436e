// The driver extension bundle the service installs: a directory
// "<identifier>.dext" beside the executable, described by its "Info" file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "Expected.hpp"
#include "ServiceState.hpp"
#include "platform/SystemExtensions.hpp"

namespace sysext {

struct DextBundle {
    std::string identifier;
    BundleVersion version;
    bool operator==(const DextBundle&) const = default;
};

std::filesystem::path bundleInfoPath(const std::filesystem::path& directory,
                                     std::string_view identifier);

Expected<DextBundle> parseBundleInfo(std::string_view bytes);

Expected<DextBundle, platform::Error> loadBundle(const std::filesystem::path& directory,
                                                 const std::string& identifier);
Expected<DextBundle, platform::Error> loadBundleBesideExecutable(const std::string& identifier);

platform::ExtensionProperties propertiesOf(const std::string& identifier,
                                           const BundleVersion& version);

}  // namespace sysext
