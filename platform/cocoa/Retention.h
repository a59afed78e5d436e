// Ownership of Objective-C objects held by C++ objects, correct with and
// without automatic reference counting (ARC makes a held `id` strong itself).
#pragma once

#if __has_feature(objc_arc)
#define VELTRIN_RETAIN(object) (object)
#define VELTRIN_RELEASE(object) ((void)0)
#else
#define VELTRIN_RETAIN(object) [(object) retain]
#define VELTRIN_RELEASE(object) [(object) release]
#endif
