// The least a GNUstep program can do that the launcher also does: open a
// window with one label, print one line once the run loop runs, and quit.
#import <AppKit/AppKit.h>
#include <cstdio>

@interface FloorDelegate : NSObject
@end

@implementation FloorDelegate
- (void)applicationDidFinishLaunching:(NSNotification *)notification
{
    (void)notification;
    NSWindow *window = [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, 200, 40)
                                                   styleMask:NSTitledWindowMask
                                                     backing:NSBackingStoreBuffered
                                                       defer:NO];
    NSTextField *label = [[NSTextField alloc] initWithFrame:NSMakeRect(10, 10, 180, 20)];
    [label setStringValue:@"floor"];
    [label setEditable:NO];
    [label setBezeled:NO];
    [[window contentView] addSubview:label];
    [window makeKeyAndOrderFront:nil];
    [self performSelector:@selector(finish) withObject:nil afterDelay:0];
}

- (void)finish
{
    std::puts("[floor]");
    std::fflush(stdout);
    [NSApp terminate:nil];
}
@end

int main(int argc, const char *argv[])
{
    (void)argc;
    (void)argv;
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    [NSApplication sharedApplication];
    [NSApp setDelegate:[FloorDelegate new]];
    [NSApp run];
    [pool release];
    return 0;
}
