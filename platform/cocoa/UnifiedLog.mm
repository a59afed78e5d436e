// os_log on OS_LOG_DEFAULT with the default type. os_log takes its format as a
// literal at compile time, so each row of the program's closed table of formats
// is one literal call here. The extension's identifier, its versions and the
// service's error text are marked public, so that `log stream` shows them
// rather than <private>; the file URL, which names the user, stays private. A
// mark changes what the platform keeps, not the rendered message.
#import <Foundation/Foundation.h>
#include <os/log.h>

#include <string>

#include "platform/UnifiedLog.hpp"

namespace platform {

namespace {

static_assert(std::size(programLogFormats) == 11, "map every row of programLogFormats below");

NSString* text(std::span<const LogArgument> arguments, std::size_t index) {
    const auto* value =
        index < arguments.size() ? std::get_if<std::string_view>(&arguments[index]) : nullptr;
    if (value == nullptr) {
        return @"";
    }
    NSString* made = [[NSString alloc] initWithBytes:value->data()
                                              length:value->size()
                                            encoding:NSUTF8StringEncoding];
#if !__has_feature(objc_arc)
    [made autorelease];
#endif
    return made != nil ? made : @"";
}

long long integer(std::span<const LogArgument> arguments, std::size_t index) {
    const auto* value =
        index < arguments.size() ? std::get_if<std::int64_t>(&arguments[index]) : nullptr;
    return value != nullptr ? *value : 0;
}

}  // namespace

bool osLogDefaultTypeEnabled() {
    return os_log_type_enabled(OS_LOG_DEFAULT, OS_LOG_TYPE_DEFAULT);
}

// %d of the table is written %lld here: the value is 64 bits wide on every
// architecture, and a plain %d would read only 32 of them.
// cppcheck-suppress passedByValue
void osLog(LogFormat format, std::span<const LogArgument> arguments) {
    @autoreleasepool {
        switch (format.row()) {
            case 0:
                os_log(OS_LOG_DEFAULT, "file URL = %s", [text(arguments, 0) UTF8String]);
                break;
            case 1:
                os_log(OS_LOG_DEFAULT, "Start:installing driver\n");
                break;
            case 2:
                os_log(OS_LOG_DEFAULT, "Start:uninstalling driver\n");
                break;
            case 3:
                os_log(OS_LOG_DEFAULT, "Start:installing driver interactive\n");
                break;
            case 4:
                os_log(OS_LOG_DEFAULT, "Info:Command arguments=");
                break;
            case 5:
                os_log(OS_LOG_DEFAULT,
                       "Success:System extension operation successful. Please restart your "
                       "computer.");
                break;
            case 6:
                os_log(OS_LOG_DEFAULT,
                       "Success:System extension operation will complete after reboot. Please "
                       "restart your computer.");
                break;
            case 7:
                os_log(OS_LOG_DEFAULT, "Error:Unexpected result %lld for system extension request",
                       integer(arguments, 0));
                break;
            case 8:
                os_log(OS_LOG_DEFAULT, "Error:System extension request failed: %{public}@",
                       text(arguments, 0));
                break;
            case 9:
                os_log(OS_LOG_DEFAULT, "Info:System Extension %{public}@ requires user approval",
                       text(arguments, 0));
                break;
            case 10:
                os_log(OS_LOG_DEFAULT,
                       "Info:Replacing extension %{public}@ version %{public}@ with version "
                       "%{public}@",
                       text(arguments, 0), text(arguments, 1), text(arguments, 2));
                break;
            default:
                // Not one of the program's formats: its text is still never a format.
                os_log(OS_LOG_DEFAULT, "%@", text(std::span<const LogArgument>(), 0));
                break;
        }
    }
}

}  // namespace platform
