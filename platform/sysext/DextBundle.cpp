#include "DextBundle.hpp"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "Identifier.hpp"
#include "ServiceErrors.hpp"

namespace sysext {

namespace {

constexpr std::string_view bundleHeader = "veltrin-dext-bundle 1";
// An Info file is four short lines; anything much bigger is not one.
constexpr std::size_t largestInfoFile = 4096;

std::optional<std::string_view> valueAfter(std::string_view line, std::string_view key) {
    if (line.size() <= key.size() + 1 || line.substr(0, key.size()) != key ||
        line[key.size()] != ' ') {
        return std::nullopt;
    }
    return line.substr(key.size() + 1);
}

// Where the running executable lies, through /proc/self/exe.
Expected<std::filesystem::path> executableDirectory() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return Failure{"/proc/self/exe: " + error.message()};
    }
    return executable.parent_path();
}

std::filesystem::path bundleInfoPath(const std::filesystem::path& directory,
                                     std::string_view identifier) {
    return directory / (std::string(identifier) + ".dext") / "Info";
}

Expected<DextBundle> parseBundleInfo(std::string_view bytes) {
    if (bytes.size() > largestInfoFile) {
        return Failure{"the Info file is larger than " + std::to_string(largestInfoFile) +
                       " bytes"};
    }
    std::string_view lines[5];
    std::size_t count = 0;
    while (!bytes.empty()) {
        const auto end = bytes.find('\n');
        if (end == std::string_view::npos || count == 4) {
            return Failure{"the Info file is not four complete lines"};
        }
        lines[count++] = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
    }
    if (count != 4 || lines[0] != bundleHeader) {
        return Failure{"the Info file does not start with \"" + std::string(bundleHeader) + "\""};
    }
    const auto identifier = valueAfter(lines[1], "identifier");
    const auto shortVersion = valueAfter(lines[2], "short-version");
    const auto build = valueAfter(lines[3], "build");
    if (!identifier || !isBundleIdentifier(*identifier)) {
        return Failure{"the Info file has no valid \"identifier\" line"};
    }
    if (!shortVersion || !isDottedVersion(*shortVersion) || !build || !isDottedVersion(*build)) {
        return Failure{"the Info file has no valid \"short-version\" or \"build\" line"};
    }
    return DextBundle{std::string(*identifier),
                      BundleVersion{std::string(*shortVersion), std::string(*build)}};
}

Expected<DextBundle, platform::Error> loadBundle(const std::filesystem::path& directory,
                                                 const std::string& identifier) {
    const auto path = bundleInfoPath(directory, identifier);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return serviceError(ErrorCode::extensionNotFound,
                            "The driver extension " + identifier +
                                " was not found: there is no bundle at \"" + path.string() +
                                "\", beside the executable. Build the project again so that the "
                                "bundle is put there.");
    }
    std::string bytes;
    bytes.resize(largestInfoFile + 1);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    auto bundle = parseBundleInfo(bytes);
    if (!bundle) {
        return serviceError(ErrorCode::validationFailed,
                            "The driver extension bundle \"" + path.string() +
                                "\" is not valid: " + bundle.error().message +
                                ". Build the project again to regenerate it.");
    }
    if (bundle->identifier != identifier) {
        return serviceError(ErrorCode::validationFailed,
                            "The driver extension bundle \"" + path.string() + "\" names " +
                                bundle->identifier + ", not " + identifier +
                                ". Build the project again to regenerate it.");
    }
    return *bundle;
}

}  // namespace

Expected<DextBundle, platform::Error> loadBundleBesideExecutable(const std::string& identifier) {
    const auto directory = executableDirectory();
    if (!directory) {
        return serviceError(ErrorCode::unsupportedParentBundleLocation,
                            "Cannot tell where the executable lies (" + directory.error().message +
                                "), so its driver extension bundle cannot be found beside it.");
    }
    return loadBundle(*directory, identifier);
}

platform::ExtensionProperties propertiesOf(const std::string& identifier,
                                           const BundleVersion& version) {
    return platform::ExtensionProperties{identifier, version.build, version.shortVersion};
}

}  // namespace sysext
