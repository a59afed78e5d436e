// What Apple's Foundation has and GNUstep's lacks, as Apple documents it, for
// compiling the Apple-only sources here. Only their syntax check sees this
// folder: shared sources must not compile against calls that nothing here runs.
#pragma once

#include_next <Foundation/Foundation.h>

typedef struct {
    NSInteger majorVersion;
    NSInteger minorVersion;
    NSInteger patchVersion;
} NSOperatingSystemVersion;

@interface NSProcessInfo (AppleFoundation)
- (BOOL)isOperatingSystemAtLeastVersion:(NSOperatingSystemVersion)version;
@end

@interface NSFileManager (AppleFoundation)
@property(readonly, copy) NSURL* homeDirectoryForCurrentUser;
@end
