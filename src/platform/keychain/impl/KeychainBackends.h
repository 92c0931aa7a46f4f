#pragma once

#include "platform/keychain/KeychainBackend.h"

#include <memory>

namespace veltrane {

// The two keychains the credential store works with, in the order it tries them.
struct KeychainBackends {
    std::shared_ptr<KeychainBackend> dataProtection; // the Secret Service
    std::shared_ptr<KeychainBackend> legacy;         // the file store in the per-user data folder
};

// The keychains of this system: the Secret Service, and files in
// "<per-user application data folder>/credentials". Call after the application's
// organisation and application names are set, as they name the data folder.
[[nodiscard]] KeychainBackends makeSystemKeychainBackends();

} // namespace veltrane
