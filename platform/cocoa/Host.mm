// The machine and the process through Foundation.
#import <Foundation/Foundation.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "QuitSignals.h"
#include "platform/Host.hpp"

namespace platform {

namespace {

std::string utf8(NSString* text) {
    const char* bytes = text != nil ? [text UTF8String] : nullptr;
    return bytes != nullptr ? std::string(bytes) : std::string();
}

// Waits for a slow reader the way a blocking descriptor would, but never past a
// quit signal: a reader that stopped reading must not keep the user from quitting,
// so the rest of the output is then given up.
void writeUnlessQuit(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        pollfd entries[2]{{fd, POLLOUT, 0}, {quitSignalDescriptor(), POLLIN, 0}};
        const int ready = poll(entries, entries[1].fd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || entries[1].revents != 0 || entries[0].revents != POLLOUT) {
            return;
        }
        // A pipe with room takes up to PIPE_BUF bytes without blocking.
        const ssize_t written =
            write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0 || (errno != EINTR && errno != EAGAIN)) {
            return;  // closed or broken: the report is not examined, like printf's result
        }
    }
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
    writeUnlessQuit(STDOUT_FILENO, bytes);
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
    writeUnlessQuit(STDERR_FILENO, line);
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
