// NSTimer one-shots on the main run loop, target and selector fireTimer. The
// run loop keeps a scheduled timer (and so its target) until it fires or is
// invalidated, whatever the logic keeps. A timer of the default mode alone
// waits while a menu is tracked or a modal panel is up; in those modes too, as
// in the common modes, an exit is not held back by an open menu. The modes are
// named one by one: GNUstep's run loop does not expand NSRunLoopCommonModes.
#import <AppKit/AppKit.h>

#include "Retention.h"
#include "platform/Timer.hpp"

@interface VeltrinTimerTarget : NSObject {
    platform::TimerTarget* _target;
}
- (instancetype)initWithTarget:(platform::TimerTarget*)target;
- (void)fireTimer;
@end

@implementation VeltrinTimerTarget
- (instancetype)initWithTarget:(platform::TimerTarget*)target {
    self = [super init];
    if (self != nil) {
        _target = target;
    }
    return self;
}
- (void)fireTimer {
    _target->fireTimer();
}
@end

namespace platform {

namespace {

class CocoaTimer final : public Timer {
  public:
    explicit CocoaTimer(NSTimer* timer) : timer_(VELTRIN_RETAIN(timer)) {}
    ~CocoaTimer() override { VELTRIN_RELEASE(timer_); }
    CocoaTimer(const CocoaTimer&) = delete;
    CocoaTimer& operator=(const CocoaTimer&) = delete;
    void invalidate() override { [timer_ invalidate]; }

  private:
    NSTimer* timer_;
};

}  // namespace

std::shared_ptr<Timer> scheduledTimerWithTimeInterval(double seconds, TimerTarget& target,
                                                      bool repeats) {
    VeltrinTimerTarget* receiver = [[VeltrinTimerTarget alloc] initWithTarget:&target];
    NSTimer* timer = [NSTimer timerWithTimeInterval:seconds
                                             target:receiver
                                           selector:@selector(fireTimer)
                                           userInfo:nil
                                            repeats:repeats ? YES : NO];
    for (NSString* mode in
         @[ NSDefaultRunLoopMode, NSEventTrackingRunLoopMode, NSModalPanelRunLoopMode ]) {
        [[NSRunLoop mainRunLoop] addTimer:timer forMode:mode];
    }
#if !__has_feature(objc_arc)
    [receiver release];
#endif
    return std::make_shared<CocoaTimer>(timer);
}

void sleepForTimeInterval(double seconds) {
    [NSThread sleepForTimeInterval:seconds];
}

}  // namespace platform
