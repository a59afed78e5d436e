// The machine and the process through Foundation.
#import <Foundation/Foundation.h>

#include <string>
#include <vector>

#include "platform/Host.hpp"

namespace platform {

namespace {

std::string utf8(NSString* text) {
    const char* bytes = text != nil ? [text UTF8String] : nullptr;
    return bytes != nullptr ? std::string(bytes) : std::string();
}

}  // namespace

std::string homeDirectoryForCurrentUser() {
    @autoreleasepool {
#ifdef GNUSTEP
        // This Foundation has no homeDirectoryForCurrentUser, and its NSHomeDirectory reads
        // the password database only; a process on macOS is given $HOME as its home.
        NSString* home = [[[NSProcessInfo processInfo] environment] objectForKey:@"HOME"];
        return utf8([home length] > 0 ? home : NSHomeDirectory());
#else
        return utf8([[[NSFileManager defaultManager] homeDirectoryForCurrentUser] path]);
#endif
    }
}

std::vector<std::string> processArguments() {
    std::vector<std::string> arguments;
    @autoreleasepool {
        for (NSString* argument in [[NSProcessInfo processInfo] arguments]) {
            arguments.push_back(utf8(argument));
        }
    }
    return arguments;
}

std::string stringFromCurrentDate(std::string_view dateFormat) {
    @autoreleasepool {
        NSDateFormatter* formatter = [[NSDateFormatter alloc] init];
#if !__has_feature(objc_arc)
        [formatter autorelease];
#endif
        [formatter setDateFormat:[NSString stringWithUTF8String:std::string(dateFormat).c_str()]];
        return utf8([formatter stringFromDate:[NSDate date]]);
    }
}

}  // namespace platform
