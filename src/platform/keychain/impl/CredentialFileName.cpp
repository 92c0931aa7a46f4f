#include "platform/keychain/impl/CredentialFileName.h"

#include <cstddef>

namespace veltrane {

namespace {

constexpr std::size_t kMaxFileNameBytes = 255;

bool keepsAsIs(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '_' || byte == '.';
}

void appendEncoded(std::string& name, const std::string& part) {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    for (const char character : part) {
        const auto byte = static_cast<unsigned char>(character);
        if (keepsAsIs(byte) && !(name.empty() && byte == '.')) {
            name.push_back(character);
        } else {
            name.push_back('%');
            name.push_back(kHexDigits[byte >> 4]);
            name.push_back(kHexDigits[byte & 0x0F]);
        }
    }
}

} // namespace

std::optional<std::string> credentialFileName(const std::string& service, const std::string& account) {
    std::string name;
    appendEncoded(name, service);
    name.push_back('+');
    appendEncoded(name, account);
    if (name.size() > kMaxFileNameBytes) {
        return std::nullopt;
    }
    return name;
}

} // namespace veltrane
