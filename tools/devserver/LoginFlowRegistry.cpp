#include "devserver/LoginFlowRegistry.h"

namespace veltrane::devserver {

LoginFlowRegistry::LoginFlowRegistry(std::chrono::seconds lifetime) : lifetime_(lifetime) {}

LoginFlow LoginFlowRegistry::start(std::string id) {
    const auto now = std::chrono::system_clock::now();
    LoginFlow flow{.id = std::move(id), .issuedAt = now, .expiresAt = now + lifetime_};
    std::scoped_lock lock(mutex_);
    std::erase_if(flows_, [&](const auto& entry) { return entry.second.expiresAt <= now; });
    flows_[flow.id] = flow;
    return flow;
}

std::expected<LoginFlow, FlowProblem> LoginFlowRegistry::find(const std::string& id) const {
    std::scoped_lock lock(mutex_);
    const auto found = flows_.find(id);
    if (found == flows_.end()) {
        return std::unexpected(FlowProblem::unknown);
    }
    if (found->second.expiresAt <= std::chrono::system_clock::now()) {
        return std::unexpected(FlowProblem::expired);
    }
    return found->second;
}

void LoginFlowRegistry::complete(const std::string& id) {
    std::scoped_lock lock(mutex_);
    flows_.erase(id);
}

} // namespace veltrane::devserver
