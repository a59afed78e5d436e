// The machine and the process through Foundation. The home directory and the
// argument list are not Foundation's here: the Linux rule and the argv bytes
// (platform/posix), and Apple's home in apple/HomeDirectory.mm.
#import <Foundation/Foundation.h>

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/Host.hpp"
#include "platform/posix/QuitSignalPipe.hpp"
#include "platform/posix/WriteUnlessQuit.hpp"

namespace platform {

namespace {

std::string utf8(NSString* text) {
    const char* bytes = text != nil ? [text UTF8String] : nullptr;
    return bytes != nullptr ? std::string(bytes) : std::string();
}

}  // namespace

// Bytes as they stand: never a format, and no conversion on the way. The
// descriptor, not NSFileHandle: a closed pipe must fail the write, not raise.
void writeStandardOutput(std::string_view bytes) {
    static_cast<void>(std::fflush(stdout));  // what a library printed goes first
    posix::writeUnlessQuit(STDOUT_FILENO, bytes, posix::quitSignalDescriptor());
}

void writeApprovalInstructions(std::string_view extensionIdentifier) {
    std::string line;
#ifdef GNUSTEP
    // Here the service is the stand-in, and its control tool plays the settings.
    line = "To approve the extension, run: sysextctl approve ";
    line.append(extensionIdentifier);
#else
    line = "To approve the extension ";
    line.append(extensionIdentifier)
        .append(", open System Settings > Privacy & Security and allow it there.");
#endif
    line += '\n';
    posix::writeUnlessQuit(STDERR_FILENO, line, posix::quitSignalDescriptor());
}

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
