// Requests are the framework's own OSSystemExtensionRequest objects. Their
// delegate is an object of ours that forwards to the launcher's delegate; the
// framework does not retain a delegate, so the request's C++ side keeps it, and
// a submitted request keeps itself alive through that object until its last
// answer.
#import <Foundation/Foundation.h>
#import <SystemExtensions/SystemExtensions.h>

#include <memory>
#include <string>
#include <vector>

#include "Retention.h"
#include "platform/SystemExtensions.hpp"

namespace platform {
dispatch_queue_t nativeQueue(DispatchQueue& queue);
class CocoaRequest;
}  // namespace platform

@interface VeltrinRequestDelegate : NSObject <OSSystemExtensionRequestDelegate> {
    platform::CocoaRequest* _request;
    platform::SystemExtensionRequestDelegate* _delegate;
    std::shared_ptr<platform::CocoaRequest>* _submitted;
}
- (instancetype)initWithRequest:(platform::CocoaRequest*)request
                       delegate:(platform::SystemExtensionRequestDelegate*)delegate;
- (void)keepUntilAnswered:(std::shared_ptr<platform::CocoaRequest>)request;
- (std::shared_ptr<platform::CocoaRequest>)handOverSubmission;
- (void)failUnavailable;
- (void)deliverFailure:(NSError*)error;
@end

namespace platform {

namespace {

std::string utf8(NSString* text) {
    const char* bytes = text != nil ? [text UTF8String] : nullptr;
    return bytes != nullptr ? std::string(bytes) : std::string();
}

ExtensionProperties propertiesOf(OSSystemExtensionProperties* properties) {
    ExtensionProperties made{utf8([properties bundleIdentifier]), utf8([properties bundleVersion]),
                             utf8([properties bundleShortVersion])};
    if (@available(macOS 12.0, *)) {
        made.isEnabled = [properties isEnabled];
        made.isAwaitingUserApproval = [properties isAwaitingUserApproval];
        made.isUninstalling = [properties isUninstalling];
    }
    return made;
}

// Holds an object for as long as it lives itself, with and without ARC.
class Hold {
  public:
    explicit Hold(id object) : object_(VELTRIN_RETAIN(object)) {}
    ~Hold() { VELTRIN_RELEASE(object_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

  private:
    [[maybe_unused]] id object_;
};

}  // namespace

class CocoaRequest final : public SystemExtensionRequest {
  public:
    explicit CocoaRequest(OSSystemExtensionRequest* request, bool answersWithProperties = false)
        : request_(VELTRIN_RETAIN(request)), answersWithProperties_(answersWithProperties) {}
    ~CocoaRequest() override {
        [request_ setDelegate:nil];
        VELTRIN_RELEASE(forwarder_);
        VELTRIN_RELEASE(request_);
    }
    CocoaRequest(const CocoaRequest&) = delete;
    CocoaRequest& operator=(const CocoaRequest&) = delete;

    std::string identifier() const override { return utf8([request_ identifier]); }

    // A submitted request passes its hold on itself to the new forwarder; until
    // then `submitted` keeps this object alive while the old forwarder goes.
    void setDelegate(SystemExtensionRequestDelegate* delegate) override {
        std::shared_ptr<CocoaRequest> submitted =
            forwarder_ != nil ? [forwarder_ handOverSubmission] : nullptr;
        [request_ setDelegate:nil];
        VELTRIN_RELEASE(forwarder_);
        forwarder_ = nil;
        if (delegate != nullptr) {
            forwarder_ = [[VeltrinRequestDelegate alloc] initWithRequest:this delegate:delegate];
            [request_ setDelegate:forwarder_];
            if (submitted) {
                [forwarder_ keepUntilAnswered:std::move(submitted)];
            }
        }
    }

    OSSystemExtensionRequest* request() const { return request_; }
    VeltrinRequestDelegate* forwarder() const { return forwarder_; }
    // A properties request's last answer is its properties (or a failure), not
    // its end.
    bool answersWithProperties() const { return answersWithProperties_; }

  private:
    OSSystemExtensionRequest* request_;
    bool answersWithProperties_;
    VeltrinRequestDelegate* forwarder_ = nil;
};

std::shared_ptr<SystemExtensionRequest> activationRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    return std::make_shared<CocoaRequest>([OSSystemExtensionRequest
        activationRequestForExtension:[NSString stringWithUTF8String:identifier.c_str()]
                                queue:nativeQueue(queue)]);
}

std::shared_ptr<SystemExtensionRequest> deactivationRequestForExtension(std::string identifier,
                                                                        DispatchQueue& queue) {
    return std::make_shared<CocoaRequest>([OSSystemExtensionRequest
        deactivationRequestForExtension:[NSString stringWithUTF8String:identifier.c_str()]
                                  queue:nativeQueue(queue)]);
}

// Before macOS 12 there is no such request (none is made: the gate stops below
// 13); its submission then fails the way the service reports a failure.
std::shared_ptr<SystemExtensionRequest> propertiesRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    OSSystemExtensionRequest* request = nil;
    if (@available(macOS 12.0, *)) {
        request = [OSSystemExtensionRequest
            propertiesRequestForExtension:[NSString stringWithUTF8String:identifier.c_str()]
                                    queue:nativeQueue(queue)];
    }
    return std::make_shared<CocoaRequest>(request, true);
}

// Only the functions above make requests in this build.
void submitRequest(std::shared_ptr<SystemExtensionRequest> request) {
    auto cocoa = std::static_pointer_cast<CocoaRequest>(std::move(request));
    [cocoa->forwarder() keepUntilAnswered:cocoa];
    if (cocoa->request() == nil) {
        [cocoa->forwarder() performSelector:@selector(failUnavailable) withObject:nil afterDelay:0];
        return;
    }
    [[OSSystemExtensionManager sharedManager] submitRequest:cocoa->request()];
}

}  // namespace platform

@implementation VeltrinRequestDelegate

- (instancetype)initWithRequest:(platform::CocoaRequest*)request
                       delegate:(platform::SystemExtensionRequestDelegate*)delegate {
    self = [super init];
    if (self != nil) {
        _request = request;
        _delegate = delegate;
        _submitted = nullptr;
    }
    return self;
}

- (void)keepUntilAnswered:(std::shared_ptr<platform::CocoaRequest>)request {
    delete _submitted;
    _submitted = new std::shared_ptr<platform::CocoaRequest>(std::move(request));
}

- (std::shared_ptr<platform::CocoaRequest>)handOverSubmission {
    std::shared_ptr<platform::CocoaRequest> submitted;
    if (_submitted != nullptr) {
        submitted = std::move(*_submitted);
        delete _submitted;
        _submitted = nullptr;
    }
    return submitted;
}

// The request may go with the last reference, and this object with it: each
// answer below holds this object until it returns, since the launcher's delegate
// may also give the request another delegate while it is answered.
- (void)answered {
    std::shared_ptr<platform::CocoaRequest>* submitted = _submitted;
    _submitted = nullptr;
    delete submitted;
}

- (OSSystemExtensionReplacementAction)request:(OSSystemExtensionRequest*)request
                  actionForReplacingExtension:(OSSystemExtensionProperties*)existing
                                withExtension:(OSSystemExtensionProperties*)ext {
    (void)request;
    const platform::Hold answering(self);
    return static_cast<OSSystemExtensionReplacementAction>(
        _delegate->requestActionForReplacingExtension(*_request, platform::propertiesOf(existing),
                                                      platform::propertiesOf(ext)));
}

- (void)requestNeedsUserApproval:(OSSystemExtensionRequest*)request {
    (void)request;
    const platform::Hold answering(self);
    _delegate->requestNeedsUserApproval(*_request);
}

- (void)request:(OSSystemExtensionRequest*)request
    didFinishWithResult:(OSSystemExtensionRequestResult)result {
    (void)request;
    const platform::Hold answering(self);
    const bool last = !_request->answersWithProperties();
    _delegate->requestDidFinishWithResult(*_request, static_cast<platform::Result>(result));
    if (last) {
        [self answered];
    }
}

- (void)request:(OSSystemExtensionRequest*)request
    foundProperties:(NSArray<OSSystemExtensionProperties*>*)properties {
    (void)request;
    const platform::Hold answering(self);
    std::vector<platform::ExtensionProperties> found;
    for (OSSystemExtensionProperties* version in properties) {
        found.push_back(platform::propertiesOf(version));
    }
    _delegate->requestFoundProperties(*_request, found);
    [self answered];
}

- (void)failUnavailable {
    NSDictionary* info = @{
        NSLocalizedDescriptionKey :
            @"This macOS release cannot report the state of a system extension (macOS 12 can)."
    };
    [self deliverFailure:[NSError errorWithDomain:OSSystemExtensionErrorDomain
                                             code:OSSystemExtensionErrorUnknown
                                         userInfo:info]];
}

- (void)request:(OSSystemExtensionRequest*)request didFailWithError:(NSError*)error {
    (void)request;
    [self deliverFailure:error];
}

- (void)deliverFailure:(NSError*)error {
    const platform::Hold answering(self);
    const platform::Error failure{platform::utf8([error domain]),
                                  static_cast<std::int64_t>([error code]),
                                  platform::utf8([error localizedDescription])};
    _delegate->requestDidFailWithError(*_request, failure);
    [self answered];
}

- (void)dealloc {
    delete _submitted;
#if !__has_feature(objc_arc)
    [super dealloc];
#endif
}

@end
