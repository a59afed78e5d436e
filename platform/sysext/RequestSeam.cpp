// The seam's request functions in the Linux build: every request is the stand-in's own.
#include "ServiceDecisions.hpp"
#include "StandInRequest.hpp"

namespace platform {

std::shared_ptr<SystemExtensionRequest> activationRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    return std::make_shared<sysext::StandInRequest>(RequestKind::activation, std::move(identifier),
                                                    queue);
}

std::shared_ptr<SystemExtensionRequest> deactivationRequestForExtension(std::string identifier,
                                                                        DispatchQueue& queue) {
    return std::make_shared<sysext::StandInRequest>(RequestKind::deactivation,
                                                    std::move(identifier), queue);
}

std::shared_ptr<SystemExtensionRequest> propertiesRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    return std::make_shared<sysext::StandInRequest>(RequestKind::properties, std::move(identifier),
                                                    queue);
}

// Only the functions above make requests in this build.
void submitRequest(std::shared_ptr<SystemExtensionRequest> request) {
    sysext::submitToStandIn(std::static_pointer_cast<sysext::StandInRequest>(std::move(request)));
}

std::string approvalHint(std::string_view extensionIdentifier) {
    return sysext::approvalHint(extensionIdentifier);
}

}  // namespace platform
