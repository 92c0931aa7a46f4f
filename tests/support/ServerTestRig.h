#pragma once

#include "server/APIClient.h"
#include "server/AuthManager.h"
#include "server/CredentialStore.h"
#include "server/HttpTransport.h"
#include "server/ServerConfiguration.h"
#include "support/FakeKeychainBackend.h"

#include <QUrl>

#include <memory>
#include <optional>

namespace veltrane::test {

// The server-access objects wired as the application wires them, against a given base URL, with
// in-memory keychains.
struct ServerTestRig {
    explicit ServerTestRig(std::optional<QUrl> baseURL,
                           std::chrono::milliseconds timeLimit = HttpTransport::kDefaultRequestTimeLimit)
        : config(std::move(baseURL)), transport(timeLimit) {}
    explicit ServerTestRig(const QString& baseURL) : ServerTestRig(std::optional<QUrl>(QUrl(baseURL))) {}

    void storeToken(const std::string& token) { (void)credentials.save(CredentialItem::accessToken, token); }
    [[nodiscard]] std::optional<std::string> storedToken() const {
        return credentials.load(CredentialItem::accessToken);
    }

    std::shared_ptr<FakeKeychainBackend> secretService = std::make_shared<FakeKeychainBackend>();
    std::shared_ptr<FakeKeychainBackend> fileStore = std::make_shared<FakeKeychainBackend>();
    ServerConfiguration config;
    CredentialStore credentials{secretService, fileStore};
    HttpTransport transport;
    AuthManager auth{config, credentials, transport};
    APIClient client{config, auth, credentials, transport};
};

} // namespace veltrane::test
