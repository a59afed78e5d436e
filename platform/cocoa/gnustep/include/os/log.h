// The unified log's calls as the platform documents them, for the GNUstep build
// only: entries go to syslog, facility user, priority notice. (Only the
// Apple-only restart logs with the error type.)
#pragma once

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct veltrin_os_log_s* os_log_t;
typedef uint8_t os_log_type_t;

#define OS_LOG_TYPE_DEFAULT ((os_log_type_t)0x00)
#define OS_LOG_TYPE_ERROR ((os_log_type_t)0x10)
#define OS_LOG_DEFAULT ((os_log_t)0)

bool os_log_type_enabled(os_log_t log, os_log_type_t type);

// The format is the unified log's: %@ takes an object, and a directive may carry
// a privacy mark such as %{public}@. clang checks the arguments against it as
// the platform's compiler does.
void veltrin_os_log_with_type(os_log_t log, os_log_type_t type, const char* format, ...)
    __attribute__((__format__(__os_log__, 3, 4)));

#ifdef __cplusplus
}
#endif

// Pasting "" before the format admits only a string literal, as os_log does.
#define os_log_with_type(log, type, format, ...) \
    veltrin_os_log_with_type(log, type, "" format, ##__VA_ARGS__)
#define os_log(log, format, ...) os_log_with_type(log, OS_LOG_TYPE_DEFAULT, format, ##__VA_ARGS__)
#define os_log_error(log, format, ...) \
    os_log_with_type(log, OS_LOG_TYPE_ERROR, format, ##__VA_ARGS__)
