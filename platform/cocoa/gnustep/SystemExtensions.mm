// OSSystemExtensionManager and OSSystemExtensionRequest for the GNUstep build,
// over the Linux stand-in service: each submitted request becomes one of the
// stand-in's, whose answers arrive on the main queue and are passed on to the
// request's delegate as the framework's own objects.
#import <SystemExtensions/SystemExtensions.h>

#include <string>
#include <vector>

#include "Retention.h"
#include "ServiceDecisions.hpp"
#include "StandInRequest.hpp"

NSString* const OSSystemExtensionErrorDomain = @"OSSystemExtensionErrorDomain";

@interface OSSystemExtensionProperties (StandIn)
- (instancetype)initWithProperties:(const platform::ExtensionProperties&)properties;
@end

@interface OSSystemExtensionRequest (StandIn)
+ (instancetype)requestForExtension:(NSString*)identifier
                               kind:(platform::RequestKind)kind
                              queue:(dispatch_queue_t)queue;
- (instancetype)initWithIdentifier:(NSString*)identifier
                              kind:(platform::RequestKind)kind
                             queue:(dispatch_queue_t)queue;
- (platform::RequestKind)kind;
@end

namespace {

NSString* fromUtf8(const std::string& text) {
    NSString* made = [NSString stringWithUTF8String:text.c_str()];
    return made != nil ? made : @"";
}

// Passes the stand-in's answers on; gone after the last one, like the
// framework's hold on a request it was given.
class Forwarder final : public platform::SystemExtensionRequestDelegate {
  public:
    explicit Forwarder(OSSystemExtensionRequest* request) : request_(VELTRIN_RETAIN(request)) {}
    ~Forwarder() override { VELTRIN_RELEASE(request_); }
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    void requestDidFinishWithResult(platform::SystemExtensionRequest&,
                                    platform::Result result) override {
        [[request_ delegate] request:request_
                 didFinishWithResult:static_cast<OSSystemExtensionRequestResult>(result)];
        delete this;
    }
    void requestDidFailWithError(platform::SystemExtensionRequest&,
                                 const platform::Error& error) override {
        @autoreleasepool {
            NSDictionary* info =
                @{NSLocalizedDescriptionKey : fromUtf8(error.localizedDescription)};
            NSError* failure = [NSError errorWithDomain:fromUtf8(error.domain)
                                                   code:static_cast<NSInteger>(error.code)
                                               userInfo:info];
            [[request_ delegate] request:request_ didFailWithError:failure];
        }
        delete this;
    }
    void requestNeedsUserApproval(platform::SystemExtensionRequest&) override {
        [[request_ delegate] requestNeedsUserApproval:request_];
    }
    void requestFoundProperties(
        platform::SystemExtensionRequest&,
        const std::vector<platform::ExtensionProperties>& properties) override {
        @autoreleasepool {
            NSMutableArray* found = [NSMutableArray array];
            for (const platform::ExtensionProperties& version : properties) {
                OSSystemExtensionProperties* made =
                    [[OSSystemExtensionProperties alloc] initWithProperties:version];
                [found addObject:made];
#if !__has_feature(objc_arc)
                [made release];
#endif
            }
            id<OSSystemExtensionRequestDelegate> delegate = [request_ delegate];
            if ([delegate respondsToSelector:@selector(request:foundProperties:)]) {
                [delegate request:request_ foundProperties:found];
            }
        }
        delete this;
    }
    platform::ReplacementAction requestActionForReplacingExtension(
        platform::SystemExtensionRequest&, const platform::ExtensionProperties& existing,
        const platform::ExtensionProperties& replacement) override {
        OSSystemExtensionProperties* before =
            [[OSSystemExtensionProperties alloc] initWithProperties:existing];
        OSSystemExtensionProperties* after =
            [[OSSystemExtensionProperties alloc] initWithProperties:replacement];
        const OSSystemExtensionReplacementAction action = [[request_ delegate] request:request_
                                                           actionForReplacingExtension:before
                                                                         withExtension:after];
#if !__has_feature(objc_arc)
        [before release];
        [after release];
#endif
        return static_cast<platform::ReplacementAction>(action);
    }

  private:
    OSSystemExtensionRequest* request_;
};

}  // namespace

@implementation OSSystemExtensionProperties
@synthesize bundleIdentifier = _bundleIdentifier;
@synthesize bundleVersion = _bundleVersion;
@synthesize bundleShortVersion = _bundleShortVersion;
@synthesize isEnabled = _isEnabled;
@synthesize isAwaitingUserApproval = _isAwaitingUserApproval;
@synthesize isUninstalling = _isUninstalling;

- (instancetype)initWithProperties:(const platform::ExtensionProperties&)properties {
    self = [super init];
    if (self != nil) {
        _bundleIdentifier = VELTRIN_RETAIN(fromUtf8(properties.bundleIdentifier));
        _bundleVersion = VELTRIN_RETAIN(fromUtf8(properties.bundleVersion));
        _bundleShortVersion = VELTRIN_RETAIN(fromUtf8(properties.bundleShortVersion));
        _isEnabled = properties.isEnabled;
        _isAwaitingUserApproval = properties.isAwaitingUserApproval;
        _isUninstalling = properties.isUninstalling;
    }
    return self;
}

- (void)dealloc {
    VELTRIN_RELEASE(_bundleIdentifier);
    VELTRIN_RELEASE(_bundleVersion);
    VELTRIN_RELEASE(_bundleShortVersion);
#if !__has_feature(objc_arc)
    [super dealloc];
#endif
}
@end

@implementation OSSystemExtensionRequest
@synthesize delegate = _delegate;
@synthesize identifier = _identifier;

+ (instancetype)requestForExtension:(NSString*)identifier
                               kind:(platform::RequestKind)kind
                              queue:(dispatch_queue_t)queue {
    OSSystemExtensionRequest* made = [[self alloc] initWithIdentifier:identifier
                                                                 kind:kind
                                                                queue:queue];
#if !__has_feature(objc_arc)
    [made autorelease];
#endif
    return made;
}

+ (instancetype)activationRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue {
    return [self requestForExtension:identifier kind:platform::RequestKind::activation queue:queue];
}

+ (instancetype)deactivationRequestForExtension:(NSString*)identifier
                                          queue:(dispatch_queue_t)queue {
    return [self requestForExtension:identifier
                                kind:platform::RequestKind::deactivation
                               queue:queue];
}

+ (instancetype)propertiesRequestForExtension:(NSString*)identifier queue:(dispatch_queue_t)queue {
    return [self requestForExtension:identifier kind:platform::RequestKind::properties queue:queue];
}

- (instancetype)initWithIdentifier:(NSString*)identifier
                              kind:(platform::RequestKind)kind
                             queue:(dispatch_queue_t)queue {
    self = [super init];
    if (self != nil) {
        _identifier = [identifier copy];
        _activation = kind == platform::RequestKind::activation;
        _properties = kind == platform::RequestKind::properties;
        _queue = queue;
    }
    return self;
}

- (platform::RequestKind)kind {
    return _properties   ? platform::RequestKind::properties
           : _activation ? platform::RequestKind::activation
                         : platform::RequestKind::deactivation;
}

- (void)dealloc {
    VELTRIN_RELEASE(_identifier);
#if !__has_feature(objc_arc)
    [super dealloc];
#endif
}
@end

@implementation OSSystemExtensionManager

+ (OSSystemExtensionManager*)sharedManager {
    static OSSystemExtensionManager* shared = nil;
    if (shared == nil) {
        shared = [[OSSystemExtensionManager alloc] init];
    }
    return shared;
}

// The stand-in answers on the main queue, the only queue the launcher gives.
- (void)submitRequest:(OSSystemExtensionRequest*)request {
    auto standIn = std::make_shared<sysext::StandInRequest>(
        [request kind], std::string([[request identifier] UTF8String]), platform::mainQueue());
    standIn->setDelegate(new Forwarder(request));
    sysext::submitToStandIn(std::move(standIn));
}

@end

// The stand-in's control tool plays the system settings here.
std::string platform::approvalHint(std::string_view extensionIdentifier) {
    return sysext::approvalHint(extensionIdentifier);
}
