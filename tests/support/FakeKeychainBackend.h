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
    [[nodiscard]] int addCalls() const noexcept { return static_cast<int>(addProtectionFlags_.size()); }
    [[nodiscard]] int deleteCalls() const noexcept { return deleteCalls_; }
    // Per add(): whether the item was to be protected (accessible after first unlock, this device only).
    [[nodiscard]] const std::vector<bool>& addProtectionFlags() const noexcept { return addProtectionFlags_; }

    [[nodiscard]] LookupResult copyMatching(const std::string&, const std::string& account) override {
        ++copyCalls_;
        if (const auto status = scripted(copyScript_)) {
            return {*status, std::nullopt};
        }
        const auto found = items_.find(account);
        return found == items_.end() ? LookupResult{kKeychainItemNotFound, std::nullopt}
                                     : LookupResult{kKeychainSuccess, found->second};
    }
    [[nodiscard]] std::int32_t add(const std::string&, const std::string& account, const std::string& data,
                                   bool accessibleAfterFirstUnlockThisDeviceOnly) override {
        addProtectionFlags_.push_back(accessibleAfterFirstUnlockThisDeviceOnly);
        if (const auto status = scripted(addScript_); status && *status != kKeychainSuccess) {
            return *status;
        }
        return items_.emplace(account, data).second ? kKeychainSuccess : kKeychainDuplicateItem;
    }
    [[nodiscard]] std::int32_t deleteItem(const std::string&, const std::string& account) override {
        ++deleteCalls_;
        std::deque<std::int32_t> none;
        if (const auto status = scripted(none)) {
            return *status;
        }
        return items_.erase(account) > 0 ? kKeychainSuccess : kKeychainItemNotFound;
    }
    [[nodiscard]] std::optional<std::string> errorMessage(std::int32_t status) const override {
        static const std::map<std::int32_t, std::string> messages = {
            {kKeychainSuccess, "No error."},
            {kKeychainItemNotFound, "The specified item could not be found in the keychain."},
            {kKeychainMissingEntitlement, "No Secret Service is available."},
            {kKeychainInteractionNotAllowed, "User interaction is not allowed."}};
        const auto found = messages.find(status);
        return found == messages.end() ? std::nullopt : std::optional<std::string>(found->second);
    }

private:
    // The status that overrides this call, if any.
    std::optional<std::int32_t> scripted(std::deque<std::int32_t>& script) {
        if (alwaysStatus_ || script.empty()) {
            return alwaysStatus_;
        }
        const std::int32_t status = script.front();
        script.pop_front();
        return status;
    }

    std::optional<std::int32_t> alwaysStatus_;
    std::deque<std::int32_t> copyScript_;
    std::deque<std::int32_t> addScript_;
    std::map<std::string, std::string> items_;
    int copyCalls_ = 0;
    int deleteCalls_ = 0;
    std::vector<bool> addProtectionFlags_;
};

} // namespace veltrane::test
