// The restart request is the one the Apple menu's Restart sends: a kAERestart
// Apple Event to loginwindow, which asks every application to quit (each may
// save or cancel) before the machine restarts. Never a call that kills
// programs without asking them. loginwindow is addressed by its bundle
// identifier, the name the sandbox's apple-events exception grants.
#include <CoreServices/CoreServices.h>
#include <os/log.h>

#include "platform/Host.hpp"

namespace platform {

void requestRestart() {
    static const char loginwindow[] = "com.apple.loginwindow";
    AEAddressDesc target = {typeNull, nullptr};
    AppleEvent event = {typeNull, nullptr};
    AppleEvent reply = {typeNull, nullptr};
    OSStatus status =
        AECreateDesc(typeApplicationBundleID, loginwindow, sizeof loginwindow - 1, &target);
    if (status == noErr) {
        status = AECreateAppleEvent(kCoreEventClass, kAERestart, &target, kAutoGenerateReturnID,
                                    kAnyTransactionID, &event);
    }
    if (status == noErr) {
        status = AESendMessage(&event, &reply, kAENoReply, kAEDefaultTimeout);
    }
    // The launcher goes on either way; a refusal (errAEEventNotPermitted: the user
    // declined, or the signature lacks the apple-events entitlements) is left where
    // an administrator looks for it.
    if (status != noErr) {
        os_log_error(OS_LOG_DEFAULT, "The restart request to loginwindow failed with error %d",
                     static_cast<int>(status));
    }
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    AEDisposeDesc(&target);
}

}  // namespace platform
