#include "SystemExtensions.hpp"

namespace platform {

std::shared_ptr<SystemExtensionRequest> activationRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    return std::make_shared<SystemExtensionRequest>(RequestKind::activation, std::move(identifier),
                                                    queue);
}

std::shared_ptr<SystemExtensionRequest> deactivationRequestForExtension(std::string identifier,
                                                                        DispatchQueue& queue) {
    return std::make_shared<SystemExtensionRequest>(RequestKind::deactivation,
                                                    std::move(identifier), queue);
}

}  // namespace platform
