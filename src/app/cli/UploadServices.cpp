#include "app/cli/UploadServices.h"

#include <QPointer>

#include <exception>
#include <iostream>
#include <stdexcept>

namespace veltrane {

namespace {

// Asks the server for the signed-in user and forgets the outcome: the upload manager only needs
// the round trip (the next attempt reads the stored token again).
QCoro::Task<void> refreshQuietly(QPointer<AuthManager> auth) {
    if (!auth) {
        co_return;
    }
    try {
        (void)co_await auth->fetchCurrentUser();
    } catch (const std::exception&) {
        // discarded on purpose
    }
}

} // namespace

UploadServices::UploadServices(std::unique_ptr<UploadQueueLock> lock, ServerConfiguration configuration,
                               std::optional<std::filesystem::path> chunkDirectory)
    : lock_(std::move(lock)), configuration_(std::move(configuration)),
      uploads_(std::make_unique<UploadManager>(UploadManager::defaultApplicationDataDirectory())) {
    bindProviders(std::move(chunkDirectory));
}

UploadServices::~UploadServices() = default;

std::unique_ptr<UploadServices>
UploadServices::fromEnvironment(std::optional<std::filesystem::path> chunkDirectory, bool& usageError) {
    usageError = false;
    std::optional<ServerConfiguration> configuration;
    try {
        configuration = ServerConfiguration::fromEnvironment();
    } catch (const std::invalid_argument& error) {
        std::cerr << error.what() << std::endl;
        usageError = true;
        return nullptr;
    }
    auto lock = UploadQueueLock::acquire(UploadManager::defaultApplicationDataDirectory());
    if (!lock) {
        return nullptr;
    }
    return std::make_unique<UploadServices>(std::move(lock), std::move(*configuration),
                                            std::move(chunkDirectory));
}

std::optional<std::string> UploadServices::currentToken() const {
    return credentials_.load(CredentialItem::accessToken);
}

void UploadServices::bindProviders(std::optional<std::filesystem::path> chunkDirectory) {
    // The manager is destroyed before every member its providers read.
    const CredentialStore* credentials = &credentials_;
    uploads_->setTokenProvider([credentials] { return credentials->load(CredentialItem::accessToken); });
    const std::optional<QUrl> apiBase = configuration_.apiBaseUrl();
    uploads_->setApiBaseUrlProvider([apiBase] { return apiBase; });
    uploads_->setChunkDirectoryProvider(
        [chunkDirectory = std::move(chunkDirectory)] { return chunkDirectory; });
    uploads_->setTokenRefresher([auth = QPointer<AuthManager>(&auth_)] { return refreshQuietly(auth); });
}

} // namespace veltrane
