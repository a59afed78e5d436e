// Compiled twice by the suite: as it stands it compiles; with
// VELTRIN_WRONG_FORMAT the one wrong call fails, as it fails against the
// platform's os_log, whose format the compiler checks.
#import <Foundation/Foundation.h>
#include <os/log.h>

void logBoth(NSString* text, long long number) {
    os_log(OS_LOG_DEFAULT, "%{public}@ and %lld", text, number);
#ifdef VELTRIN_WRONG_FORMAT
    os_log(OS_LOG_DEFAULT, "%{public}@ and %d", text, number);
#endif
}
