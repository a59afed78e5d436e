// The system-extension service: requests to activate or deactivate an extension,
// submitted to the shared manager and answered through the request's delegate on
// the queue the request was made with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
    // Known only to a properties request (macOS 12 and later).
    bool isEnabled = false;
    bool isAwaitingUserApproval = false;
    bool isUninstalling = false;
};

// The service's error domain and its codes, as the framework numbers them.
inline constexpr std::string_view systemExtensionErrorDomain = "OSSystemExtensionErrorDomain";
namespace SystemExtensionErrorCode {
inline constexpr std::int64_t unknown = 1;
inline constexpr std::int64_t missingEntitlement = 2;
inline constexpr std::int64_t unsupportedParentBundleLocation = 3;
inline constexpr std::int64_t extensionNotFound = 4;
inline constexpr std::int64_t extensionMissingIdentifier = 5;
inline constexpr std::int64_t duplicateExtensionIdentifer = 6;  // sic, the framework's name
inline constexpr std::int64_t unknownExtensionCategory = 7;
inline constexpr std::int64_t codeSignatureInvalid = 8;
inline constexpr std::int64_t validationFailed = 9;
inline constexpr std::int64_t forbiddenBySystemPolicy = 10;
inline constexpr std::int64_t requestCanceled = 11;
inline constexpr std::int64_t requestSuperseded = 12;
inline constexpr std::int64_t authorizationRequired = 13;
}  // namespace SystemExtensionErrorCode

struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;
};

class SystemExtensionRequest;

// Every answer comes on the queue the request was made with, one at a time.
class SystemExtensionRequestDelegate {
  public:
    virtual ~SystemExtensionRequestDelegate() = default;
    // The request's end: the result exactly as the service gave it, any value.
    virtual void requestDidFinishWithResult(SystemExtensionRequest& request, Result result) = 0;
    // The request's end: the service's error, its domain, code and text unchanged.
    virtual void requestDidFailWithError(SystemExtensionRequest& request, const Error& error) = 0;
    // The request waits for the user's approval; an end may follow later.
    virtual void requestNeedsUserApproval(SystemExtensionRequest& request) = 0;
    // Another version is installed: the service goes on as the answer says.
    virtual ReplacementAction requestActionForReplacingExtension(
        SystemExtensionRequest& request, const ExtensionProperties& existing,
        const ExtensionProperties& replacement) = 0;
    // The answer to a properties request: every version of the extension the
    // system knows. Optional, as in the framework: other requests never call it.
    virtual void requestFoundProperties(SystemExtensionRequest& /*request*/,
                                        const std::vector<ExtensionProperties>& /*properties*/) {}
};

// What a request asks; the backends' request objects know it.
enum class RequestKind { activation, deactivation, properties };

// The platform's request object. Each backend makes its own (the functions below),
// so identifier and setDelegate can be the framework's own.
class SystemExtensionRequest {
  public:
    virtual ~SystemExtensionRequest() = default;
    // The extension's identifier, as the request was made with it.
    virtual std::string identifier() const = 0;
    // Not owned: the delegate outlives every request it is given (it is the
    // application's delegate).
    virtual void setDelegate(SystemExtensionRequestDelegate* delegate) = 0;
};

// A request to activate, or to deactivate, the extension, answered on `queue`;
// nothing happens until it is submitted.
std::shared_ptr<SystemExtensionRequest> activationRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue);
std::shared_ptr<SystemExtensionRequest> deactivationRequestForExtension(std::string identifier,
                                                                        DispatchQueue& queue);

// What the system knows of the extension's versions, answered through
// requestFoundProperties (or requestDidFailWithError).
std::shared_ptr<SystemExtensionRequest> propertiesRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue);

// Returns at once; the answers come later through the request's delegate, on its queue.
void submitRequest(std::shared_ptr<SystemExtensionRequest> request);

// One line for a person at a terminal: where this service takes the approval
// that a request for the extension waits for.
std::string approvalHint(std::string_view extensionIdentifier);

}  // namespace platform
