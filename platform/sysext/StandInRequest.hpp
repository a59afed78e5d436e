// The stand-in service's request object, and its entry point. The Linux build
// makes these through the seam's request functions; the GNUstep build's
// OSSystemExtensionRequest makes one for each request it is given.
#pragma once

#include <memory>
#include <string>

#include "platform/DispatchQueue.hpp"
#include "platform/SystemExtensions.hpp"

namespace sysext {

class StandInRequest final : public platform::SystemExtensionRequest {
  public:
    StandInRequest(platform::RequestKind kind, std::string identifier,
                   platform::DispatchQueue& queue)
        : kind_(kind), identifier_(std::move(identifier)), queue_(&queue) {}

    platform::RequestKind kind() const { return kind_; }
    std::string identifier() const override { return identifier_; }
    platform::DispatchQueue& queue() const { return *queue_; }
    platform::SystemExtensionRequestDelegate* delegate() const { return delegate_; }
    void setDelegate(platform::SystemExtensionRequestDelegate* delegate) override {
        delegate_ = delegate;
    }

  private:
    platform::RequestKind kind_;
    std::string identifier_;
    platform::DispatchQueue* queue_;
    platform::SystemExtensionRequestDelegate* delegate_ = nullptr;
};

// Returns at once; the answers reach the request's delegate on its queue.
void submitToStandIn(std::shared_ptr<StandInRequest> request);

}  // namespace sysext
