// The machine and the process through Foundation.
#import <Foundation/Foundation.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

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
