#pragma once

#include "platform/keychain/KeychainBackend.h"

#include <filesystem>
#include <optional>
#include <string>

namespace veltrane {

// The file name under which the file keychain keeps the item (service, account): letters,
// digits, '-', '_' and '.' stay as they are, every other byte becomes "%XX", a leading '.'
// too, and '+' separates the two parts. Distinct pairs give distinct names, a name never
// contains '/', never starts with '.' and is never "." or "..". Absent when the name would
// be longer than a file name may be.
[[nodiscard]] std::optional<std::string> credentialFileName(const std::string& service,
                                                            const std::string& account);

// Generic-password items as files: one file per (service, account) in one folder, readable and
// writable by the owner only (folder 0700, files 0600). A file is written under a temporary
// name, created with mode 0600, flushed to disk and then renamed over the item's name, so an
// item is never partly written and never readable by others, not even briefly.
class FileKeychain final : public KeychainBackend {
public:
    // `folder` must be absolute; it and its parents are created on the first `add`.
    explicit FileKeychain(std::filesystem::path folder);

    [[nodiscard]] KeychainResult lookUp(const std::string& service, const std::string& account) override;
    [[nodiscard]] KeychainResult store(const std::string& service, const std::string& account,
                                       const std::string& data) override;
    [[nodiscard]] KeychainResult remove(const std::string& service, const std::string& account) override;

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

} // namespace veltrane
