// The machine and the process through Foundation. The home directory and the
// argument list are not Foundation's here: the Linux rule and the argv bytes
// (platform/posix), and Apple's home in apple/HomeDirectory.mm. Standard output
// and error are platform/posix's too.
#import <Foundation/Foundation.h>

#include <ctime>
#include <string>

#include "platform/Host.hpp"

namespace platform {

namespace {

std::string utf8(NSString* text) {
    const char* bytes = text != nil ? [text UTF8String] : nullptr;
    return bytes != nullptr ? std::string(bytes) : std::string();
}

}  // namespace

std::string stringFromCurrentDate(std::string_view dateFormat) {
    @autoreleasepool {
        NSDateFormatter* formatter = [[NSDateFormatter alloc] init];
#if !__has_feature(objc_arc)
        [formatter autorelease];
#endif
        [formatter setDateFormat:[NSString stringWithUTF8String:std::string(dateFormat).c_str()]];
#ifdef GNUSTEP
        // This Foundation finds its zone in its own defaults and files and never
        // reads TZ; macOS takes the zone that TZ names first. The C library's
        // reading of TZ (a zone's name, or a rule) gives the offset of now.
        ::tzset();
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (::localtime_r(&now, &local) != nullptr) {
            [formatter setTimeZone:[NSTimeZone timeZoneForSecondsFromGMT:local.tm_gmtoff]];
        }
#endif
        return utf8([formatter stringFromDate:[NSDate date]]);
    }
}

}  // namespace platform
