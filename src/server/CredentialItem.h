#pragma once

#include <string_view>

namespace veltrane {

// The items the credential store knows.
enum class CredentialItem {
    accessToken,  // the session token obtained at sign-in
    refreshToken, // reserved: never saved, only removed
};

// The keychain account name of an item.
[[nodiscard]] constexpr std::string_view accountName(CredentialItem item) {
    switch (item) {
    case CredentialItem::accessToken:
        return "accessToken";
    case CredentialItem::refreshToken:
        return "refreshToken";
    }
    return "accessToken";
}

} // namespace veltrane
