// The system-extension framework's classes as the platform documents them, for
// the GNUstep build only (there no weak references: the delegate is not retained).
#pragma once

#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

extern NSString* const OSSystemExtensionErrorDomain;

typedef NSInteger OSSystemExtensionErrorCode;
enum {
    OSSystemExtensionErrorUnknown = 1,
    OSSystemExtensionErrorMissingEntitlement = 2,
    OSSystemExtensionErrorUnsupportedParentBundleLocation = 3,
    OSSystemExtensionErrorExtensionNotFound = 4,
    OSSystemExtensionErrorExtensionMissingIdentifier = 5,
    OSSystemExtensionErrorDuplicateExtensionIdentifer = 6,
    OSSystemExtensionErrorUnknownExtensionCategory = 7,
    OSSystemExtensionErrorCodeSignatureInvalid = 8,
    OSSystemExtensionErrorValidationFailed = 9,
    OSSystemExtensionErrorForbiddenBySystemPolicy = 10,
    OSSystemExtensionErrorRequestCanceled = 11,
    OSSystemExtensionErrorRequestSuperseded = 12,
    OSSystemExtensionErrorAuthorizationRequired = 13,
};

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
    BOOL _isEnabled;
    BOOL _isAwaitingUserApproval;
    BOOL _isUninstalling;
}
@property(readonly, copy) NSString* bundleIdentifier;
@property(readonly, copy) NSString* bundleVersion;
@property(readonly, copy) NSString* bundleShortVersion;
// macOS 12 and later.
@property(readonly) BOOL isEnabled;
@property(readonly) BOOL isAwaitingUserApproval;
@property(readonly) BOOL isUninstalling;
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
@optional
// macOS 12 and later: the answer to a properties request.
- (void)request:(OSSystemExtensionRequest*)request
    foundProperties:(NSArray<OSSystemExtensionProperties*>*)properties;
@end

@interface OSSystemExtensionRequest : NSObject {
    id<OSSystemExtensionRequestDelegate> _delegate;
    NSString* _identifier;
    BOOL _activation;
    BOOL _properties;
    dispatch_queue_t _queue;
}
+ (instancetype)activationRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue;
+ (instancetype)deactivationRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue;
// macOS 12 and later.
+ (instancetype)propertiesRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue;
@property(assign) id<OSSystemExtensionRequestDelegate> delegate;
@property(readonly) NSString* identifier;
@end

@interface OSSystemExtensionManager : NSObject
+ (OSSystemExtensionManager*)sharedManager;
- (void)submitRequest:(OSSystemExtensionRequest*)request;
@end
