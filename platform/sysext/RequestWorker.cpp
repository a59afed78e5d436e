// The stand-in service's requests: one detached worker thread per request.
// A request can wait for the user's approval for as long as the user likes, so
// workers must not hold each other up, and none is joined: at exit the process
// simply leaves them, which ServiceLife makes safe.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>

#include "Identifier.hpp"
#include "ServiceDecisions.hpp"
#include "ServiceErrors.hpp"
#include "ServiceLife.hpp"
#include "StandInRequest.hpp"
#include "StateStore.hpp"

namespace sysext {

namespace {

using namespace std::chrono_literals;

// How soon an approval given with sysextctl is noticed.
constexpr auto approvalPollInterval = 100ms;

std::string newRequestToken() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    return std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" +
           std::to_string(random());
}

class RequestWorker {
  public:
    RequestWorker(std::shared_ptr<ServiceLife> life, std::shared_ptr<StandInRequest> request)
        : life_(std::move(life)), request_(std::move(request)) {}

    void run() {
        Step step = firstStep();
        for (;;) {
            if (const auto* finish = std::get_if<Finish>(&step)) {
                postFinish(finish->result);
                return;
            }
            if (const auto* fail = std::get_if<Fail>(&step)) {
                postFail(fail->error);
                return;
            }
            if (auto* found = std::get_if<Found>(&step)) {
                postFound(std::move(found->versions));
                return;
            }
            if (std::holds_alternative<AwaitApproval>(step)) {
                if (!postNeedsApproval()) {
                    return;
                }
                auto decided = waitForApproval();
                if (!decided) {
                    return;
                }
                step = std::move(*decided);
                continue;
            }
            const auto action = askReplacement(std::get<AskReplacement>(step));
            if (!action) {
                return;
            }
            step = updateState(
                [&](ServiceState& state) { return answerReplacement(state, *bundle_, *action); });
        }
    }

    void postFail(const platform::Error& error) {
        life_->post(request_->queue(), [request = request_, error] {
            if (auto* delegate = request->delegate()) {
                delegate->requestDidFailWithError(*request, error);
            }
        });
    }

  private:
    Step firstStep() {
        const std::string identifier = request_->identifier();
        if (!isBundleIdentifier(identifier)) {
            return Fail{serviceError(ErrorCode::extensionNotFound,
                                     "\"" + identifier.substr(0, 300) +
                                         "\" is not a bundle identifier (reverse-DNS, such as "
                                         "com.example.driver), so no extension has it.")};
        }
        auto paths = locateStatePaths();
        if (!paths) {
            return Fail{serviceError(ErrorCode::unknown, paths.error().message)};
        }
        store_.emplace(*paths);
        if (request_->kind() == platform::RequestKind::properties) {
            return updateState([&](ServiceState& state) -> Step {
                if (auto fail = takeFailureOnDemand(state, identifier)) {
                    return *fail;
                }
                return findProperties(state, identifier);
            });
        }
        if (request_->kind() == platform::RequestKind::deactivation) {
            return updateState([&](ServiceState& state) -> Step {
                if (auto fail = takeFailureOnDemand(state, identifier)) {
                    return *fail;
                }
                forgetAbandonedApprovals(state);
                return beginDeactivation(state, identifier);
            });
        }
        auto bundle = loadBundleBesideExecutable(identifier);
        if (!bundle) {
            return Fail{bundle.error()};
        }
        bundle_ = std::move(*bundle);
        token_ = newRequestToken();
        return updateState([&](ServiceState& state) -> Step {
            if (auto fail = takeFailureOnDemand(state, identifier)) {
                return *fail;
            }
            forgetAbandonedApprovals(state);
            return beginActivation(state, *bundle_, token_);
        });
    }

    template <class Change>
    Step updateState(Change&& change) {
        auto step = store_->update(change);
        if (!step) {
            return Fail{serviceError(ErrorCode::unknown, step.error().message)};
        }
        return std::move(*step);
    }

    // Nothing when the process is exiting.
    std::optional<Step> waitForApproval() {
        const std::string identifier = request_->identifier();
        while (life_->pause(approvalPollInterval)) {
            auto decided = store_->update(
                [&](ServiceState& state) { return checkApproval(state, identifier, token_); });
            if (!decided) {
                return Fail{serviceError(ErrorCode::unknown, decided.error().message)};
            }
            if (*decided) {
                return std::move(**decided);
            }
        }
        return std::nullopt;
    }

    // The delegate answers on its queue; nothing when the process is exiting or
    // the queue dropped the question.
    std::optional<platform::ReplacementAction> askReplacement(const AskReplacement& ask) {
        auto answer = std::make_shared<std::promise<platform::ReplacementAction>>();
        auto future = answer->get_future();
        const bool posted = life_->post(request_->queue(), [request = request_, answer,
                                                            ask]() mutable {
            auto* delegate = request->delegate();
            answer->set_value(delegate == nullptr ? platform::Replacement::cancel
                                                  : delegate->requestActionForReplacingExtension(
                                                        *request, ask.existing, ask.offered));
        });
        if (!posted) {
            return std::nullopt;
        }
        while (future.wait_for(approvalPollInterval) != std::future_status::ready) {
            if (life_->stopping()) {
                return std::nullopt;
            }
        }
        try {
            return future.get();
        } catch (const std::future_error&) {
            return std::nullopt;
        }
    }

    void postFinish(platform::Result result) {
        life_->post(request_->queue(), [request = request_, result] {
            if (auto* delegate = request->delegate()) {
                delegate->requestDidFinishWithResult(*request, result);
            }
        });
    }

    void postFound(std::vector<platform::ExtensionProperties> versions) {
        life_->post(request_->queue(), [request = request_, versions = std::move(versions)] {
            if (auto* delegate = request->delegate()) {
                delegate->requestFoundProperties(*request, versions);
            }
        });
    }

    bool postNeedsApproval() {
        return life_->post(request_->queue(), [request = request_] {
            if (auto* delegate = request->delegate()) {
                delegate->requestNeedsUserApproval(*request);
            }
        });
    }

    std::shared_ptr<ServiceLife> life_;
    std::shared_ptr<StandInRequest> request_;
    std::optional<StateStore> store_;
    std::optional<DextBundle> bundle_;
    std::string token_;
};

}  // namespace

void submitToStandIn(std::shared_ptr<StandInRequest> request) {
    auto worker = std::make_shared<RequestWorker>(ServiceLife::current(), std::move(request));
    try {
        std::thread([worker] {
            try {
                worker->run();
            } catch (const std::exception& exception) {
                worker->postFail(serviceError(
                    ErrorCode::unknown,
                    std::string("The system extension service failed: ") + exception.what()));
            }
        }).detach();
    } catch (const std::system_error& error) {
        worker->postFail(serviceError(
            ErrorCode::unknown,
            std::string("The system extension service could not start a worker: ") + error.what()));
    }
}

}  // namespace sysext
