// The unified log for the GNUstep build: syslog, facility user, priority
// notice, the message made with Foundation's formatting (so %@ works). A
// privacy mark only decides what the platform keeps in stored logs; the
// message reads the same without it.
#import <Foundation/Foundation.h>
#include <os/log.h>
#include <syslog.h>

#include <cstdarg>
#include <string>

namespace {

// "%{public}@" becomes "%@"; "%%" stays a percent sign followed by whatever comes.
std::string withoutPrivacyMarks(const char* format) {
    std::string plain;
    for (const char* at = format; *at != '\0'; ++at) {
        plain += *at;
        if (*at != '%') {
            continue;
        }
        if (at[1] == '%') {
            plain += *++at;
        } else if (at[1] == '{') {
            while (at[1] != '\0' && at[1] != '}') {
                ++at;
            }
            if (at[1] == '}') {
                ++at;
            }
        }
    }
    return plain;
}

}  // namespace

bool os_log_type_enabled(os_log_t log, os_log_type_t type) {
    (void)log;
    (void)type;
    return true;
}

void veltrin_os_log_with_type(os_log_t log, os_log_type_t type, const char* format, ...) {
    (void)log;
    (void)type;
    @autoreleasepool {
        va_list arguments;
        va_start(arguments, format);
        NSString* message = [[NSString alloc]
            initWithFormat:[NSString stringWithUTF8String:withoutPrivacyMarks(format).c_str()]
                 arguments:arguments];
        va_end(arguments);
        syslog(LOG_USER | LOG_NOTICE, "%s", [message UTF8String]);
#if !__has_feature(objc_arc)
        [message release];
#endif
    }
}
