// The system-extension service: requests to activate or deactivate an extension,
// submitted to the shared manager and answered through the request's delegate on
// the queue the request was made with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DispatchQueue.hpp"

namespace platform {

// Both are signed 64-bit on the platform; values outside the named ones travel unchanged.
using Result = std::int64_t;
namespace RequestResult {
inline constexpr Result completed = 0;
inline constexpr Result willCompleteAfterReboot = 1;
}  // namespace RequestResult

using ReplacementAction = std::int64_t;
namespace Replacement {
inline constexpr ReplacementAction cancel = 0;
inline constexpr ReplacementAction replace = 1;
}  // namespace Replacement

struct ExtensionProperties {
    std::string bundleIdentifier;
    std::string bundleVersion;
    std::string bundleShortVersion;
};

struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;
};

class SystemExtensionRequest;

class SystemExtensionRequestDelegate {
  public:
    virtual ~SystemExtensionRequestDelegate() = default;
    virtual void requestDidFinishWithResult(SystemExtensionRequest& request, Result result) = 0;
    virtual void requestDidFailWithError(SystemExtensionRequest& request, const Error& error) = 0;
    virtual void requestNeedsUserApproval(SystemExtensionRequest& request) = 0;
    virtual ReplacementAction requestActionForReplacingExtension(
        SystemExtensionRequest& request, const ExtensionProperties& existing,
        const ExtensionProperties& replacement) = 0;
};

// What a request asks; the backends' request objects know it.
enum class RequestKind { activation, deactivation };

// The platform's request object. Each backend makes its own (the functions below),
// so identifier and setDelegate can be the framework's own.
class SystemExtensionRequest {
  public:
    virtual ~SystemExtensionRequest() = default;
    virtual std::string identifier() const = 0;
    // Not owned: the delegate outlives every request it is given (it is the
    // application's delegate).
    virtual void setDelegate(SystemExtensionRequestDelegate* delegate) = 0;
};

std::shared_ptr<SystemExtensionRequest> activationRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue);
std::shared_ptr<SystemExtensionRequest> deactivationRequestForExtension(std::string identifier,
                                                                        DispatchQueue& queue);

// Returns at once; the answers come later through the request's delegate, on its queue.
void submitRequest(std::shared_ptr<SystemExtensionRequest> request);

}  // namespace platform
