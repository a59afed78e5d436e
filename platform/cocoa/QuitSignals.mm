// A thread waits for the quit signals' byte and asks the main thread to
// terminate. The byte stays unread, so that a write to a pipe nobody reads can
// see the quit and give up.
#import <AppKit/AppKit.h>

#include "QuitSignals.h"

#include <poll.h>

#include <cerrno>

#include "platform/posix/QuitSignalPipe.hpp"
#include "platform/posix/WriteFailureSignals.hpp"

@interface VeltrinQuitSignalWaiter : NSObject
- (void)waitForSignals:(id)unused;
- (void)terminateApplication;
@end

@implementation VeltrinQuitSignalWaiter
- (void)waitForSignals:(id)unused {
    (void)unused;
    pollfd entry{platform::posix::quitSignalDescriptor(), POLLIN, 0};
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
    // Not sent to NSApp from here: a signal can come before the application
    // object exists, and a message to nil would lose it. The main thread runs
    // this once its run loop runs, by which time the application is there.
    @autoreleasepool {
        [self performSelectorOnMainThread:@selector(terminateApplication)
                               withObject:nil
                            waitUntilDone:NO];
    }
}
- (void)terminateApplication {
    [[NSApplication sharedApplication] terminate:nil];
}
@end

namespace platform {

void installQuitSignals() {
    posix::ignoreWriteFailureSignals();
    if (posix::openQuitSignalPipe() < 0) {
        return;
    }
    VeltrinQuitSignalWaiter* waiter = [[VeltrinQuitSignalWaiter alloc] init];
    [NSThread detachNewThreadSelector:@selector(waitForSignals:) toTarget:waiter withObject:nil];
#if !__has_feature(objc_arc)
    [waiter release];
#endif
}

}  // namespace platform
