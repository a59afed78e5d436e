// The system-extension framework's classes as the platform documents them, for
// the GNUstep build only (there no weak references: the delegate is not retained).
#pragma once

#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

extern NSString* const OSSystemExtensionErrorDomain;

typedef NSInteger OSSystemExtensionRequestResult;
enum {
    OSSystemExtensionRequestCompleted = 0,
    OSSystemExtensionRequestWillCompleteAfterReboot = 1,
};

typedef NSInteger OSSystemExtensionReplacementAction;
enum {
    OSSystemExtensionReplacementActionCancel = 0,
    OSSystemExtensionReplacementActionReplace = 1,
};

@interface OSSystemExtensionProperties : NSObject {
    NSString* _bundleIdentifier;
    NSString* _bundleVersion;
    NSString* _bundleShortVersion;
}
@property(readonly, copy) NSString* bundleIdentifier;
@property(readonly, copy) NSString* bundleVersion;
@property(readonly, copy) NSString* bundleShortVersion;
@end

@class OSSystemExtensionRequest;

@protocol OSSystemExtensionRequestDelegate <NSObject>
- (OSSystemExtensionReplacementAction)request:(OSSystemExtensionRequest*)request
                  actionForReplacingExtension:(OSSystemExtensionProperties*)existing
                                withExtension:(OSSystemExtensionProperties*)ext;
- (void)requestNeedsUserApproval:(OSSystemExtensionRequest*)request;
- (void)request:(OSSystemExtensionRequest*)request
    didFinishWithResult:(OSSystemExtensionRequestResult)result;
- (void)request:(OSSystemExtensionRequest*)request didFailWithError:(NSError*)error;
@end

@interface OSSystemExtensionRequest : NSObject {
    id<OSSystemExtensionRequestDelegate> _delegate;
    NSString* _identifier;
    BOOL _activation;
    dispatch_queue_t _queue;
}
+ (instancetype)activationRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue;
+ (instancetype)deactivationRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue;
@property(assign) id<OSSystemExtensionRequestDelegate> delegate;
@property(readonly) NSString* identifier;
@end

@interface OSSystemExtensionManager : NSObject
+ (OSSystemExtensionManager*)sharedManager;
- (void)submitRequest:(OSSystemExtensionRequest*)request;
@end
