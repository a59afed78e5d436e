// The handler only writes a byte into a pipe; a thread that waits on the pipe asks
// the main thread to terminate. A handler, unlike a blocked mask, is not inherited
// by the programs the process starts. The byte stays unread, so that a write to a
// pipe nobody reads can see the quit and give up. A script that stops reading
// standard output gets a failed write instead of SIGPIPE.
#import <AppKit/AppKit.h>

#include "QuitSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace {

int quitReadEnd = -1;
int quitWriteEnd = -1;

void onQuitSignal(int /*signal*/) {
    const int savedErrno = errno;
    const char byte = 1;
    // Non-blocking: one byte is enough, the rest of a burst is dropped.
    if (write(quitWriteEnd, &byte, 1) < 0) {
        // nothing more can be done inside a handler
    }
    errno = savedErrno;
}

}  // namespace

@interface VeltrinQuitSignalWaiter : NSObject
- (void)waitForSignals:(id)unused;
@end

@implementation VeltrinQuitSignalWaiter
- (void)waitForSignals:(id)unused {
    (void)unused;
    pollfd entry{quitReadEnd, POLLIN, 0};
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
    @autoreleasepool {
        [NSApp performSelectorOnMainThread:@selector(terminate:) withObject:nil waitUntilDone:NO];
    }
}
@end

namespace platform {

int quitSignalDescriptor() {
    return quitReadEnd;
}

void claimQuitSignals() {
    if (quitWriteEnd < 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int quit : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(quit, &action, nullptr);
    }
}

void installQuitSignals() {
    signal(SIGPIPE, SIG_IGN);
    int ends[2];
    if (pipe(ends) != 0) {
        return;  // the default dispositions stay: a signal still ends the process
    }
    for (const int end : ends) {
        fcntl(end, F_SETFD, FD_CLOEXEC);
    }
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    quitReadEnd = ends[0];
    quitWriteEnd = ends[1];
    VeltrinQuitSignalWaiter* waiter = [[VeltrinQuitSignalWaiter alloc] init];
    [NSThread detachNewThreadSelector:@selector(waitForSignals:) toTarget:waiter withObject:nil];
#if !__has_feature(objc_arc)
    [waiter release];
#endif
    claimQuitSignals();
}

}  // namespace platform
