// The main queue over the main thread's run loop, for the GNUstep build.
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

@interface VeltrinDispatchWork : NSObject {
    void* _context;
    dispatch_function_t _work;
}
- (instancetype)initWithContext:(void*)context work:(dispatch_function_t)work;
- (void)run;
@end

@implementation VeltrinDispatchWork
- (instancetype)initWithContext:(void*)context work:(dispatch_function_t)work {
    self = [super init];
    if (self != nil) {
        _context = context;
        _work = work;
    }
    return self;
}
- (void)run {
    _work(_context);
}
@end

// Only its address matters: there is one queue.
struct veltrin_dispatch_queue_s {
    int unused;
};

static veltrin_dispatch_queue_s mainQueue;

dispatch_queue_t dispatch_get_main_queue(void) {
    return &mainQueue;
}

void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work) {
    (void)queue;
    // Threads that Foundation did not start must make themselves known first.
    GSRegisterCurrentThread();
    @autoreleasepool {
        VeltrinDispatchWork* item = [[VeltrinDispatchWork alloc] initWithContext:context work:work];
        [item performSelectorOnMainThread:@selector(run) withObject:nil waitUntilDone:NO];
#if !__has_feature(objc_arc)
        [item release];
#endif
    }
}
