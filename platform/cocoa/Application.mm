// The application on AppKit: NSApplicationMain loads MainMenu, whose custom
// object (class AppDelegate) is created by the layout, gets the four outlets
// and the two actions, is the application's delegate, and forwards all of it
// to the launcher's own delegate. Quit's action in the layout is terminate:.
#import <AppKit/AppKit.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "QuitSignals.h"
#include "Retention.h"
#include "platform/Application.hpp"
#include "platform/posix/ExitStatus.hpp"
#include "platform/posix/ProcessArguments.hpp"
#include "platform/posix/QuitSignalPipe.hpp"
#include "platform/posix/StandardDescriptors.hpp"
#ifdef GNUSTEP
#include <unistd.h>

#include "platform/text/EscapedText.hpp"
#endif

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

// The window is the layout's, kept by AppDelegate below to show it at launch; the
// launcher asks nothing of it.
class CocoaWindow final : public platform::Window {};

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
    _launcher->setWindow(window != nil ? std::make_shared<CocoaWindow>() : nullptr);
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

// Arguments are the launcher's to report, never documents. GNUstep takes every
// bare word of the command line (and -NSOpen, -GSFilePath) for a file to open,
// and with no one to open it an alert would halt the launch; macOS would do the
// same but for NSTreatUnknownArgumentsAsOpen below. Nothing is opened, nothing said.
- (void)application:(NSApplication*)sender openFiles:(NSArray*)filenames {
    (void)filenames;
    [sender replyToOpenOrPrint:NSApplicationDelegateReplyCancel];
}
- (BOOL)application:(NSApplication*)sender openFile:(NSString*)filename {
    (void)sender;
    (void)filename;
    return NO;
}

@end

namespace {

#ifdef GNUSTEP
// GNUstep decodes the command line and the environment with its default C-string
// encoding the first time anything asks for them, and raises at a byte sequence
// that the encoding rejects: the program ends before it has started (macOS falls
// back to Latin-1 there). When something is not UTF-8, GNUstep is given Latin-1,
// which takes every byte, before it decodes anything; the launcher's own bytes
// (arguments, home directory) never pass through it.
void letGnustepDecodeAnyBytes(int argc, const char* const* argv) {
    bool allUtf8 = true;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        allUtf8 = allUtf8 && platform::text::isWellFormedUtf8(argv[i]);
    }
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        allUtf8 = allUtf8 && platform::text::isWellFormedUtf8(*entry);
    }
    if (allUtf8) {
        return;
    }
    // GNUstep keeps the environment it found at the process's start, and hands
    // that to the helpers it starts (gdnc): the process starts once more with
    // the encoding in it, so that they too decode what they inherit.
    const char* const name = "GNUSTEP_STRING_ENCODING";
    const char* const latin1 = "NSISOLatin1StringEncoding";
    const char* const given = std::getenv(name);
    if (given != nullptr && std::string_view(given) == latin1) {
        return;
    }
    ::setenv(name, latin1, 1);
    ::execv("/proc/self/exe", const_cast<char* const*>(argv));
    // No second start: this process decodes as Latin-1 at least itself.
    static_cast<void>([NSString defaultCStringEncoding]);
}
#endif

}  // namespace

namespace platform {

int applicationMain(int argc, char** argv) {
    posix::openNullOnClosedStandardDescriptors();
    posix::rememberProcessArguments(argc, argv);
#ifdef GNUSTEP
    letGnustepDecodeAnyBytes(argc, argv);
#endif
    installQuitSignals();
    @autoreleasepool {
        // AppKit reads this default as a string.
        [[NSUserDefaults standardUserDefaults]
            registerDefaults:@{@"NSTreatUnknownArgumentsAsOpen" : @"NO"}];
    }
    static_cast<void>(NSApplicationMain(argc, const_cast<const char**>(argv)));
    return posix::exitStatus();
}

void terminate(ApplicationDelegate& sender) {
    id object =
        layoutDelegate != nil && [layoutDelegate launcher] == &sender ? layoutDelegate : nil;
    [NSApp terminate:object];
}

}  // namespace platform
