#pragma once

#include "platform/keychain/KeychainBackend.h"

#include <filesystem>
#include <optional>
#include <string>

namespace veltrane {

// Generic-password items as files: one file per (service, account) in one folder, readable and
// writable by the owner only (folder 0700, files 0600). A file is written under a temporary
// name, created with mode 0600, flushed to disk and then renamed over the item's name, so an
// item is never partly written and never readable by others, not even briefly.
class FileKeychain final : public KeychainBackend {
public:
    // `folder` must be absolute; it and its parents are created on the first `add`.
    explicit FileKeychain(std::filesystem::path folder);

    [[nodiscard]] LookupResult copyMatching(const std::string& service, const std::string& account) override;
    // Replaces an item with the same service and account. The accessibility flag is ignored: the
    // file is always readable by its owner only.
    [[nodiscard]] std::int32_t add(const std::string& service, const std::string& account,
                                   const std::string& data,
                                   bool accessibleAfterFirstUnlockThisDeviceOnly) override;
    [[nodiscard]] std::int32_t deleteItem(const std::string& service, const std::string& account) override;
    [[nodiscard]] std::optional<std::string> errorMessage(std::int32_t status) const override;

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

} // namespace veltrane
