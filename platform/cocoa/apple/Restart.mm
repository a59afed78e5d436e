// The restart request is the one the Apple menu's Restart sends: a kAERestart
// Apple Event to loginwindow, which asks every application to quit (each may
// save or cancel) before the machine restarts. Never a call that kills
// programs without asking them.
#include <CoreServices/CoreServices.h>
#import <Foundation/Foundation.h>

#include "platform/Host.hpp"

namespace platform {

void requestRestart() {
    const ProcessSerialNumber loginwindow = {0, kSystemProcess};
    AEAddressDesc target = {typeNull, nullptr};
    AppleEvent event = {typeNull, nullptr};
    AppleEvent reply = {typeNull, nullptr};
    if (AECreateDesc(typeProcessSerialNumber, &loginwindow, sizeof loginwindow, &target) == noErr) {
        if (AECreateAppleEvent(kCoreEventClass, kAERestart, &target, kAutoGenerateReturnID,
                               kAnyTransactionID, &event) == noErr) {
            static_cast<void>(AESendMessage(&event, &reply, kAENoReply, kAEDefaultTimeout));
        }
    }
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    AEDisposeDesc(&target);
}

}  // namespace platform
