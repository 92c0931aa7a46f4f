#include "platform/keychain/impl/KeychainStatusMessage.h"

#include "platform/keychain/KeychainBackend.h"

namespace veltrane {

std::optional<std::string> keychainStatusMessage(std::int32_t status) {
    switch (status) {
    case kKeychainSuccess:
        return "No error.";
    case kKeychainItemNotFound:
        return "The specified item could not be found in the keychain.";
    case kKeychainDuplicateItem:
        return "The specified item already exists in the keychain.";
    case kKeychainMissingEntitlement:
        return "The Secret Service is not available.";
    case kKeychainInteractionNotAllowed:
        return "User interaction is not allowed.";
    case kKeychainIOError:
        return "An input/output error occurred while accessing the keychain.";
    case kKeychainParam:
        return "One or more parameters passed to the keychain were not valid.";
    default:
        return std::nullopt;
    }
}

} // namespace veltrane
