#pragma once

#include "devserver/LoginFlow.h"

#include <chrono>
#include <expected>
#include <map>
#include <mutex>
#include <string>

namespace veltrane::devserver {

enum class FlowProblem { unknown, expired };

// The login flows started and not yet completed; safe to use from several threads.
class LoginFlowRegistry {
public:
    explicit LoginFlowRegistry(std::chrono::seconds lifetime);

    // Starts a flow under the given id; flows past their expiry are dropped on the way.
    [[nodiscard]] LoginFlow start(std::string id);
    // A flow that can still be submitted.
    [[nodiscard]] std::expected<LoginFlow, FlowProblem> find(const std::string& id) const;
    // A signed-in flow cannot be submitted again.
    void complete(const std::string& id);

private:
    std::chrono::seconds lifetime_;
    mutable std::mutex mutex_;
    std::map<std::string, LoginFlow> flows_;
};

} // namespace veltrane::devserver
