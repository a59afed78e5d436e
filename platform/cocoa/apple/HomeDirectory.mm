// The home directory as macOS reports it to the application: in the sandbox,
// the application's container, where the activity log then lives.
#import <Foundation/Foundation.h>

#include <string>

#include "platform/Host.hpp"

namespace platform {

std::string homeDirectoryForCurrentUser() {
    @autoreleasepool {
        NSString* home = [[[NSFileManager defaultManager] homeDirectoryForCurrentUser] path];
        const char* bytes = home != nil ? [home UTF8String] : nullptr;
        return bytes != nullptr && bytes[0] == '/' ? std::string(bytes) : std::string("/");
    }
}

}  // namespace platform
