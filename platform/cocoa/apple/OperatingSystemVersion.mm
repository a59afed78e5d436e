#import <Foundation/Foundation.h>

#include "platform/Host.hpp"

namespace platform {

bool isOperatingSystemAtLeastVersion(OperatingSystemVersion version) {
    const NSOperatingSystemVersion wanted = {version.major, version.minor, version.patch};
    return [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:wanted] ? true : false;
}

}  // namespace platform
