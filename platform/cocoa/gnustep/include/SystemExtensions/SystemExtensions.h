// The system-extension framework's classes, types and errors as the platform
// documents them, for the GNUstep build only.
#pragma once

#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

extern NSErrorDomain const OSSystemExtensionErrorDomain;

// The platform declares it with NS_ERROR_ENUM, which GNUstep lacks: the same
// NSInteger enumeration, tied there to the domain above.
typedef NS_ENUM(NSInteger, OSSystemExtensionErrorCode) {
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

typedef NS_ENUM(NSInteger, OSSystemExtensionRequestResult) {
    OSSystemExtensionRequestCompleted = 0,
    OSSystemExtensionRequestWillCompleteAfterReboot = 1,
};

typedef NS_ENUM(NSInteger, OSSystemExtensionReplacementAction) {
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

// The delegate is weak, as on the platform, where the runtime has weak
// references. GNUstep's gcc runtime has none: there it is assign, which does not
// retain the delegate either but is not cleared when the delegate goes.
#if __has_feature(objc_arc_weak)
#define VELTRIN_DELEGATE_IVAR __weak id<OSSystemExtensionRequestDelegate>
#define VELTRIN_DELEGATE_OWNERSHIP weak
#else
#define VELTRIN_DELEGATE_IVAR id<OSSystemExtensionRequestDelegate>
#define VELTRIN_DELEGATE_OWNERSHIP assign
#endif

@interface OSSystemExtensionRequest : NSObject {
    VELTRIN_DELEGATE_IVAR _delegate;
    NSString* _identifier;
    BOOL _activation;
    BOOL _properties;
    dispatch_queue_t _queue;
}
+ (instancetype)activationRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue;
+ (instancetype)deactivationRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue;
// macOS 12 and later.
+ (instancetype)propertiesRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue;
@property(VELTRIN_DELEGATE_OWNERSHIP) id<OSSystemExtensionRequestDelegate> delegate;
@property(readonly) NSString* identifier;
@end

@interface OSSystemExtensionManager : NSObject
@property(class, readonly, strong) OSSystemExtensionManager* sharedManager;
- (void)submitRequest:(OSSystemExtensionRequest*)request;
@end
