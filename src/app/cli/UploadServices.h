#pragma once

#include "app/cli/UploadQueueLock.h"
#include "app/cli/UploadTransportHolder.h"
#include "server/APIClient.h"
#include "server/AuthManager.h"
#include "server/CredentialStore.h"
#include "server/ProjectService.h"
#include "server/ServerConfiguration.h"
#include "server/system/SystemCredentialStore.h"
#include "upload/UploadManager.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace veltrane {

// The services the command line's upload commands share, built and wired as the application
// builds them: the server configuration from the environment, the credential store over the
// system keychains, one transport, the sign-in manager, the API and project services and the
// upload manager on the per-user application data folder with its four providers bound.
// Main thread only.
class UploadServices {
public:
    // `chunkDirectory` is what the upload manager's chunk-directory provider returns.
    UploadServices(std::unique_ptr<UploadQueueLock> lock, ServerConfiguration configuration,
                   std::optional<std::filesystem::path> chunkDirectory);
    ~UploadServices();
    UploadServices(const UploadServices&) = delete;
    UploadServices& operator=(const UploadServices&) = delete;

    // Builds the services over ServerConfiguration::fromEnvironment() and takes the queue's lock;
    // null (with the reason on standard error) when VELTRANE_SERVER_URL is not a usable URL
    // (`usageError` set) or another process holds the queue.
    [[nodiscard]] static std::unique_ptr<UploadServices>
    fromEnvironment(std::optional<std::filesystem::path> chunkDirectory, bool& usageError);

    [[nodiscard]] UploadManager& uploads() { return *uploads_; }
    [[nodiscard]] ProjectService& projects() { return projects_; }
    [[nodiscard]] const CredentialStore& credentials() const { return credentials_; }
    // The session token as stored right now.
    [[nodiscard]] std::optional<std::string> currentToken() const;

private:
    void bindProviders(std::optional<std::filesystem::path> chunkDirectory);

    std::unique_ptr<UploadQueueLock> lock_; // held for the services' whole life
    ServerConfiguration configuration_;
    CredentialStore credentials_ = makeSystemCredentialStore();
    UploadTransportHolder transport_;
    AuthManager auth_{configuration_, credentials_, transport_.transport()};
    APIClient client_{configuration_, auth_, credentials_, transport_.transport()};
    ProjectService projects_{client_};
    std::unique_ptr<UploadManager> uploads_; // declared last: destroyed first
};

} // namespace veltrane
