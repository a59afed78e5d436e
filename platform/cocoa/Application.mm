// The application on AppKit: NSApplicationMain loads MainMenu, whose custom
// object (class AppDelegate) is created by the layout, gets the four outlets
// and the two actions, is the application's delegate, and forwards all of it
// to the launcher's own delegate. Quit's action in the layout is terminate:.
#import <AppKit/AppKit.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "QuitSignals.h"
#include "Retention.h"
#include "platform/Application.hpp"
#include "platform/posix/ExitStatus.hpp"
#include "platform/posix/QuitSignalPipe.hpp"
#include "platform/posix/StandardDescriptors.hpp"

namespace {

NSString* fromUtf8(std::string_view text) {
    NSString* made = [[NSString alloc] initWithBytes:text.data()
                                              length:text.size()
                                            encoding:NSUTF8StringEncoding];
#if !__has_feature(objc_arc)
    [made autorelease];
#endif
    return made != nil ? made : @"";
}

class CocoaWindow final : public platform::Window {
  public:
    explicit CocoaWindow(NSWindow* window) : window_(VELTRIN_RETAIN(window)) {}
    ~CocoaWindow() override { VELTRIN_RELEASE(window_); }
    CocoaWindow(const CocoaWindow&) = delete;
    CocoaWindow& operator=(const CocoaWindow&) = delete;

  private:
    // Only kept: outlets are strong, and nothing asks the window for anything.
    [[maybe_unused]] NSWindow* window_;
};

class CocoaTextField final : public platform::TextField {
  public:
    explicit CocoaTextField(NSTextField* field) : field_(VELTRIN_RETAIN(field)) {}
    ~CocoaTextField() override { VELTRIN_RELEASE(field_); }
    CocoaTextField(const CocoaTextField&) = delete;
    CocoaTextField& operator=(const CocoaTextField&) = delete;
    void setStringValue(std::string_view text) override { [field_ setStringValue:fromUtf8(text)]; }

  private:
    NSTextField* field_;
};

class CocoaButton final : public platform::Button {
  public:
    explicit CocoaButton(NSButton* button) : button_(VELTRIN_RETAIN(button)) {}
    ~CocoaButton() override { VELTRIN_RELEASE(button_); }
    CocoaButton(const CocoaButton&) = delete;
    CocoaButton& operator=(const CocoaButton&) = delete;
    void setKeyEquivalent(std::string_view key) override {
        [button_ setKeyEquivalent:fromUtf8(key)];
    }

  private:
    NSButton* button_;
};

}  // namespace

// The layout's object. It lives as long as the application.
@interface AppDelegate : NSObject <NSApplicationDelegate> {
    platform::ApplicationDelegate* _launcher;
    NSWindow* _window;  // not visible at launch in the layout; shown here when wanted
}
- (platform::ApplicationDelegate*)launcher;
@end

namespace {
// The one the layout made; the sender of the launcher's terminate.
AppDelegate* layoutDelegate = nil;
}  // namespace

@implementation AppDelegate

- (instancetype)init {
    self = [super init];
    if (self != nil) {
        _launcher = platform::instantiateLayoutDelegate().release();
        layoutDelegate = self;
    }
    return self;
}

- (platform::ApplicationDelegate*)launcher {
    return _launcher;
}

- (void)setWindow:(NSWindow*)window {
    _window = window;
    _launcher->setWindow(window != nil ? std::make_shared<CocoaWindow>(window) : nullptr);
}
- (void)setQuitButton:(NSButton*)button {
    _launcher->setQuitButton(button != nil ? std::make_shared<CocoaButton>(button) : nullptr);
}
- (void)setMessageBox:(NSTextField*)field {
    _launcher->setMessageBox(field != nil ? std::make_shared<CocoaTextField>(field) : nullptr);
}
- (void)setMacOSMessageBox:(NSTextField*)field {
    _launcher->setMacOSMessageBox(field != nil ? std::make_shared<CocoaTextField>(field) : nullptr);
}

- (IBAction)loadDriverWithSender:(id)sender {
    (void)sender;  // the launcher never looks at the sender
    _launcher->loadDriverWithSender(nullptr);
}
- (IBAction)disableDriverWithSender:(id)sender {
    (void)sender;
    _launcher->disableDriverWithSender(nullptr);
}

// A run that only reports ends at once, without a window.
- (void)applicationWillFinishLaunching:(NSNotification*)notification {
    (void)notification;
    if (_launcher->showsWindowAtLaunch()) {
        [_window makeKeyAndOrderFront:nil];
    }
}
- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    platform::posix::claimQuitSignals();
    _launcher->applicationDidFinishLaunching();
}
// terminate: ends the process with exit(0) once this returns, so a status of
// the launcher's own is given here.
- (void)applicationWillTerminate:(NSNotification*)notification {
    (void)notification;
    _launcher->applicationWillTerminate();
    if (const int status = platform::posix::exitStatus(); status != 0) {
        std::exit(status);
    }
}
// Closing the window does not end the application.
- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
    (void)sender;
    return NO;
}
// Restorable state is then decoded only with secure coding; macOS 14 warns at
// every start of an application that does not say so.
- (BOOL)applicationSupportsSecureRestorableState:(NSApplication*)sender {
    (void)sender;
    return YES;
}

@end

namespace platform {

int applicationMain(int argc, char** argv) {
    posix::openNullOnClosedStandardDescriptors();
    installQuitSignals();
    static_cast<void>(NSApplicationMain(argc, const_cast<const char**>(argv)));
    return posix::exitStatus();
}

void terminate(ApplicationDelegate& sender) {
    id object =
        layoutDelegate != nil && [layoutDelegate launcher] == &sender ? layoutDelegate : nil;
    [NSApp terminate:object];
}

}  // namespace platform
