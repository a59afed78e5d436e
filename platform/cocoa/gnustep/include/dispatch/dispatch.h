// The main dispatch queue as the platform documents it, for the GNUstep build
// only: work handed to it runs on the main thread's run loop.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef struct veltrin_dispatch_queue_s* dispatch_queue_t;
typedef void (*dispatch_function_t)(void* context);

dispatch_queue_t dispatch_get_main_queue(void);
void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work);

#ifdef __cplusplus
}
#endif
