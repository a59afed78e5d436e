// The unified log for the GNUstep build: syslog, facility user, priority
// notice, the message made with Foundation's formatting (so %@ works).
#import <Foundation/Foundation.h>
#include <os/log.h>
#include <syslog.h>

#include <cstdarg>

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
        NSString* message = [[NSString alloc] initWithFormat:[NSString stringWithUTF8String:format]
                                                   arguments:arguments];
        va_end(arguments);
        syslog(LOG_USER | LOG_NOTICE, "%s", [message UTF8String]);
#if !__has_feature(objc_arc)
        [message release];
#endif
    }
}
