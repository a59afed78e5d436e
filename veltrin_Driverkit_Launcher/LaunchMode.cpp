#include "LaunchMode.hpp"

#include <algorithm>
#include <string_view>

namespace launcher {

namespace {

bool contains(const std::vector<std::string>& arguments, std::string_view flag) {
    return std::any_of(arguments.begin(), arguments.end(),
                       [flag](const std::string& argument) { return argument == flag; });
}

}  // namespace

LaunchMode selectLaunchMode(const std::vector<std::string>& arguments) {
    if (contains(arguments, "-install")) {
        return LaunchMode::install;
    }
    if (contains(arguments, "-uninstall")) {
        return LaunchMode::uninstall;
    }
    if (contains(arguments, "-installInteractive")) {
        return LaunchMode::installInteractive;
    }
    return LaunchMode::interactive;
}

}  // namespace launcher
