// SIGINT and SIGTERM quit like Quit: a thread waits for them (blocked in every
// other thread) and asks the main thread to terminate, and a script that stops
// reading standard output gets a failed write instead of SIGPIPE.
#import <AppKit/AppKit.h>

#include <pthread.h>
#include <signal.h>

@interface VeltrinQuitSignalWaiter : NSObject
- (void)waitForSignals:(id)unused;
@end

@implementation VeltrinQuitSignalWaiter
- (void)waitForSignals:(id)unused {
    (void)unused;
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
    for (;;) {
        int received = 0;
        if (sigwait(&quitSignals, &received) == 0) {
            @autoreleasepool {
                [NSApp performSelectorOnMainThread:@selector(terminate:)
                                        withObject:nil
                                     waitUntilDone:NO];
            }
        }
    }
}
@end

namespace platform {

void installQuitSignals() {
    signal(SIGPIPE, SIG_IGN);
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
    VeltrinQuitSignalWaiter* waiter = [[VeltrinQuitSignalWaiter alloc] init];
    [NSThread detachNewThreadSelector:@selector(waitForSignals:) toTarget:waiter withObject:nil];
#if !__has_feature(objc_arc)
    [waiter release];
#endif
}

}  // namespace platform
