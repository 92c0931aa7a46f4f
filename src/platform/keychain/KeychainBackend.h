#pragma once

#include <optional>
#include <string>

namespace veltrane {

// What a keychain call came to.
//  - found: the item is there: read by lookUp, kept by store, removed by remove.
//  - notFound: there is no such item.
//  - unavailable: the store cannot be reached (no Secret Service, a locked or absent collection,
//    no answer in time).
//  - failed: the store was reached and the call failed, for the reason in `failure`.
struct KeychainResult {
    enum class Status { found, notFound, unavailable, failed };

    Status status = Status::notFound;
    std::optional<std::string> data; // the item's raw bytes, when lookUp found it
    std::string failure;             // why it failed

    [[nodiscard]] static KeychainResult found(std::optional<std::string> data = std::nullopt) {
        return {.status = Status::found, .data = std::move(data), .failure = {}};
    }
    [[nodiscard]] static KeychainResult notFound() { return {}; }
    [[nodiscard]] static KeychainResult unavailable() {
        return {.status = Status::unavailable, .data = std::nullopt, .failure = {}};
    }
    [[nodiscard]] static KeychainResult failed(std::string failure) {
        return {.status = Status::failed, .data = std::nullopt, .failure = std::move(failure)};
    }

    // A sentence for people, e.g. "The Secret Service is not available."
    [[nodiscard]] std::string describe() const {
        switch (status) {
        case Status::found:
            return "No error.";
        case Status::notFound:
            return "The specified item could not be found in the keychain.";
        case Status::unavailable:
            return "The Secret Service is not available.";
        case Status::failed:
            break;
        }
        return failure.empty() ? "An input/output error occurred while accessing the keychain." : failure;
    }
};

// One place where generic-password items (service + account -> bytes) can be kept.
// Two implementations: the Secret Service (libsecret) and a file store in the per-user data
// folder. Calls are synchronous but bounded in time: a store that does not answer within a
// few seconds counts as unavailable.
class KeychainBackend {
public:
    virtual ~KeychainBackend() = default;

    [[nodiscard]] virtual KeychainResult lookUp(const std::string& service, const std::string& account) = 0;
    // Keeps `data` as the item, replacing one with the same service and account.
    [[nodiscard]] virtual KeychainResult store(const std::string& service, const std::string& account,
                                               const std::string& data) = 0;
    [[nodiscard]] virtual KeychainResult remove(const std::string& service, const std::string& account) = 0;
};

} // namespace veltrane
