#include "server/FakeKeychainBackend.h"

namespace veltrane::test {

KeychainBackend::LookupResult FakeKeychainBackend::copyMatching(const std::string& service,
                                                                const std::string& account) {
    ++copyCalls_;
    services_.push_back(service);
    if (alwaysStatus_) {
        return {*alwaysStatus_, std::nullopt};
    }
    if (!copyScript_.empty()) {
        const std::int32_t status = copyScript_.front();
        copyScript_.pop_front();
        return {status, std::nullopt};
    }
    const auto found = items_.find(account);
    if (found == items_.end()) {
        return {kKeychainItemNotFound, std::nullopt};
    }
    return {kKeychainSuccess, found->second};
}

std::int32_t FakeKeychainBackend::add(const std::string& service, const std::string& account,
                                      const std::string& data,
                                      bool accessibleAfterFirstUnlockThisDeviceOnly) {
    ++addCalls_;
    services_.push_back(service);
    addProtectionFlags_.push_back(accessibleAfterFirstUnlockThisDeviceOnly);
    if (alwaysStatus_) {
        return *alwaysStatus_;
    }
    if (!addScript_.empty()) {
        const std::int32_t status = addScript_.front();
        addScript_.pop_front();
        if (status != kKeychainSuccess) {
            return status;
        }
    }
    if (items_.contains(account)) {
        return kKeychainDuplicateItem;
    }
    items_[account] = data;
    return kKeychainSuccess;
}

std::int32_t FakeKeychainBackend::deleteItem(const std::string& service, const std::string& account) {
    ++deleteCalls_;
    services_.push_back(service);
    if (alwaysStatus_) {
        return *alwaysStatus_;
    }
    return items_.erase(account) > 0 ? kKeychainSuccess : kKeychainItemNotFound;
}

std::optional<std::string> FakeKeychainBackend::errorMessage(std::int32_t status) const {
    switch (status) {
    case kKeychainSuccess:
        return "No error.";
    case kKeychainItemNotFound:
        return "The specified item could not be found in the keychain.";
    case kKeychainMissingEntitlement:
        return "No Secret Service is available.";
    case kKeychainInteractionNotAllowed:
        return "User interaction is not allowed.";
    default:
        return std::nullopt;
    }
}

} // namespace veltrane::test
