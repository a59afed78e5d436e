// The driver extension bundle the service installs: a directory
// "<identifier>.dext" beside the executable, described by its "Info" file.
#pragma once

#include <string>

#include "Expected.hpp"
#include "ServiceState.hpp"
#include "platform/SystemExtensions.hpp"

namespace sysext {

struct DextBundle {
    std::string identifier;
    BundleVersion version;
};

Expected<DextBundle, platform::Error> loadBundleBesideExecutable(const std::string& identifier);

platform::ExtensionProperties propertiesOf(const std::string& identifier,
                                           const BundleVersion& version);

}  // namespace sysext
