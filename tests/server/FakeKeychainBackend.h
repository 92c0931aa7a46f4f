#pragma once

#include "platform/keychain/KeychainBackend.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace veltrane::test {

// An in-memory keychain. Scripted statuses (first in, first out) override what the next calls of a
// kind answer; without a script it behaves like a working store.
class FakeKeychainBackend : public KeychainBackend {
public:
    // Every call of every kind answers `status` (e.g. kKeychainMissingEntitlement: not reachable).
    void failEverythingWith(std::int32_t status) { alwaysStatus_ = status; }
    void scriptCopy(std::int32_t status) { copyScript_.push_back(status); }
    void scriptAdd(std::int32_t status) { addScript_.push_back(status); }
    // Stores raw bytes directly, as another program might have.
    void put(const std::string& account, const std::string& bytes) { items_[account] = bytes; }
    [[nodiscard]] bool contains(const std::string& account) const { return items_.contains(account); }

    [[nodiscard]] int copyCalls() const noexcept { return copyCalls_; }
    [[nodiscard]] int addCalls() const noexcept { return addCalls_; }
    [[nodiscard]] int deleteCalls() const noexcept { return deleteCalls_; }
    [[nodiscard]] const std::vector<bool>& addProtectionFlags() const noexcept { return addProtectionFlags_; }
    [[nodiscard]] const std::vector<std::string>& services() const noexcept { return services_; }

    [[nodiscard]] LookupResult copyMatching(const std::string& service, const std::string& account) override;
    [[nodiscard]] std::int32_t add(const std::string& service, const std::string& account,
                                   const std::string& data,
                                   bool accessibleAfterFirstUnlockThisDeviceOnly) override;
    [[nodiscard]] std::int32_t deleteItem(const std::string& service, const std::string& account) override;
    [[nodiscard]] std::optional<std::string> errorMessage(std::int32_t status) const override;

private:
    std::optional<std::int32_t> alwaysStatus_;
    std::deque<std::int32_t> copyScript_;
    std::deque<std::int32_t> addScript_;
    std::map<std::string, std::string> items_;
    int copyCalls_ = 0;
    int addCalls_ = 0;
    int deleteCalls_ = 0;
    std::vector<bool> addProtectionFlags_;
    std::vector<std::string> services_;
};

} // namespace veltrane::test
