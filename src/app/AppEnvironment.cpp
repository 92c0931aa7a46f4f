#include "app/AppEnvironment.h"

#include "app/SignalWatcher.h"
#include "platform/capture/pulse/PulseCaptureService.h"
#include "platform/core/Log.h"
#include "platform/dispatch/MainThread.h"
#include "platform/encoding/ffmpeg/FfmpegAudioEncoder.h"
#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"
#include "platform/keychain/impl/FileKeychain.h"
#include "platform/keychain/impl/KeychainBackends.h"
#include "platform/settings/UserDefaults.h"
#include "recording/AudioRecorder.h"

#include <QCoreApplication>
#include <QPointer>

#include <exception>

namespace veltrane {

namespace {

// Asks the server for the signed-in user and forgets the outcome: the upload manager only needs
// the round trip, and reads the stored token again at its next attempt.
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

// Runs a load nobody awaits; the model turns its failures into its error text.
void startLoad(QPointer<AssignmentModel> model) {
    if (model) {
        [](QPointer<AssignmentModel> target) -> QCoro::Task<> {
            if (target) {
                co_await target->loadProjects();
            }
        }(model);
    }
}

} // namespace

void prepareProcess() {
    SignalWatcher::blockTerminationSignals();
    installLogHandler();
    enableLineBufferedStdout();
    limitFfmpegLoggingToErrors();
}

namespace {

// The credential store of this system: the Secret Service first, the owner-only file store in the
// per-user data folder when no Secret Service is reachable.
CredentialStore systemCredentialStore() {
    KeychainBackends backends = makeSystemKeychainBackends();
    std::string location = CredentialStore::kDefaultLegacyLocation;
    if (const auto* file = dynamic_cast<const FileKeychain*>(backends.legacy.get())) {
        location = file->folder().string();
    }
    return CredentialStore(backends.dataProtection, backends.legacy, location);
}

} // namespace

void nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrane"));
    QCoreApplication::setApplicationName(QStringLiteral("VeltraneRecorder"));
}

AppPlatform AppPlatform::system() {
    AppPlatform platform;
    platform.credentials = systemCredentialStore();
    platform.userDefaults = std::make_shared<QSettingsUserDefaults>();
    platform.serverConfig = ServerConfiguration::fromEnvironment(
        platform.userDefaults->string(QString::fromLatin1(ServerConfiguration::kUserChoiceKey)));
    platform.applicationDataDirectory = UploadManager::defaultApplicationDataDirectory();
    platform.capture = std::make_shared<PulseCaptureService>();
    platform.writerFactory = std::make_shared<FfmpegMediaFileWriterFactory>();
    return platform;
}

AppEnvironment::AppEnvironment(AppPlatform platform, QObject* parent)
    : QObject(parent), platform_(std::move(platform)), serverConfig_(platform_.serverConfig),
      auth_(serverConfig_, platform_.credentials, transport_),
      apiClient_(serverConfig_, auth_, platform_.credentials, transport_),
      assignment_(apiClient_, *platform_.userDefaults) {
    enableLineBufferedStdout();
    if (platform_.uploadQueueClaim == UploadQueueClaim::take) {
        uploadLock_ = UploadQueueLock::acquire(platform_.applicationDataDirectory);
    }
    if (uploadLock_) {
        uploads_ = makeUploadManager();
    }
    destination_ = std::make_unique<RecordingDestination>(platform_.userDefaults, platform_.folderChooser);
    if (uploads_) {
        bindProviders(*uploads_);
    }
    connect(&auth_, &AuthManager::stateChanged, this, &AppEnvironment::authStateChanged);
}

AppEnvironment::~AppEnvironment() {
    // The upload manager's providers point into this object: it goes first.
    uploads_.reset();
}

QCoro::Task<> AppEnvironment::bootstrap() {
    QPointer<AppEnvironment> self(this);
    co_await auth_.restoreSession();
    if (!self) {
        co_return;
    }
    bootstrapped_ = true;
    if (uploads_) {
        uploads_->reconnectSession();
    }
    if (auth_.state().kind() != AuthState::Kind::authenticated) {
        co_return;
    }
    co_await assignment_.loadProjects();
}

bool AppEnvironment::takeUploadQueue() {
    if (uploads_) {
        return true;
    }
    uploadLock_ = UploadQueueLock::acquire(platform_.applicationDataDirectory);
    if (!uploadLock_) {
        return false;
    }
    uploads_ = makeUploadManager();
    bindProviders(*uploads_);
    if (bootstrapped_) {
        uploads_->reconnectSession();
    }
    for (const WaitingChunk& chunk : std::exchange(waitingChunks_, {})) {
        uploads_->enqueue(chunk.filename, chunk.filing, std::nullopt);
    }
    emit uploadsChanged();
    return true;
}

std::unique_ptr<UploadManager> AppEnvironment::makeUploadManager() const {
    return std::make_unique<UploadManager>(platform_.applicationDataDirectory, nullptr, nullptr,
                                           platform_.uploadSessionFactory);
}

void AppEnvironment::releaseUploadQueue() {
    if (!uploads_) {
        return;
    }
    uploads_.reset();
    uploadLock_.reset();
    emit uploadsChanged();
}

void AppEnvironment::changeServer(const QString& text) {
    serverConfig_.choose(text);
    platform_.userDefaults->setString(QString::fromLatin1(ServerConfiguration::kUserChoiceKey),
                                      serverConfig_.baseURL()->toString());
    logInfo(lcApp(), "ℹ️ server changed to " + serverConfig_.baseURL()->toString().toStdString());
}

void AppEnvironment::fileChunk(const std::filesystem::path& path, const ChunkFiling& filing) {
    WaitingChunk chunk{.filename = path.filename().string(), .filing = filing};
    if (!uploads_) {
        logInfo(lcApp(), "ℹ️ upload queue held by another process; " + chunk.filename + " waits for it");
        waitingChunks_.push_back(std::move(chunk));
        return;
    }
    uploads_->enqueue(chunk.filename, chunk.filing, std::nullopt);
}

void AppEnvironment::fileChunksOf(AudioRecorder& recorder, ChunkGate gate) {
    // Filed on the spot: the report already runs on the main thread, so nothing is left in
    // flight once the recorder has stopped.
    connect(&recorder, &AudioRecorder::chunkReady, this,
            [this, gate = std::move(gate)](const std::filesystem::path& chunk,
                                           const std::optional<ChunkFiling>& filing) {
                const bool fileNow = !gate || gate(chunk);
                if (fileNow && filing) {
                    fileChunk(chunk, *filing);
                }
            });
}

std::vector<RecoveredChunk> AppEnvironment::recoverInterruptedChunks() {
    const auto& folder = destination_->url();
    if (!folder) {
        return {};
    }
    const FiledChunks filed =
        platform_.uploadQueueClaim == UploadQueueClaim::take ? FiledChunks::recover : FiledChunks::leave;
    std::vector<RecoveredChunk> recovered =
        veltrane::recoverInterruptedChunks(*folder, *platform_.writerFactory, filed);
    for (const RecoveredChunk& chunk : recovered) {
        if (chunk.filing) {
            fileChunk(chunk.path, *chunk.filing);
        }
    }
    return recovered;
}

void AppEnvironment::bindProviders(UploadManager& uploads) {
    // The manager is destroyed before the members its providers read.
    uploads.setTokenProvider([this] { return auth_.currentToken(); });
    // Without a session (signed out, or expired) the server answers 401 and the queue pauses
    // until the next sign-in, using up no attempts.
    uploads.setAPIBaseURLProvider([this] { return serverConfig_.apiBaseURL(); });
    uploads.setChunkDirectoryProvider([destination = QPointer<RecordingDestination>(
                                           destination_.get())]() -> std::optional<std::filesystem::path> {
        if (!destination) {
            return std::nullopt;
        }
        return destination->url();
    });
    uploads.setTokenRefresher([auth = QPointer<AuthManager>(&auth_)] { return refreshQuietly(auth); });
}

void AppEnvironment::authStateChanged() {
    const AuthState::Kind previous = std::exchange(lastAuthKind_, auth_.state().kind());
    // A sign-in during the session loads the projects at once (the start-up sequence loads them
    // after a restored session).
    if (previous == AuthState::Kind::authenticating && lastAuthKind_ == AuthState::Kind::authenticated) {
        startLoad(&assignment_);
    }
    // Uploads paused because the server no longer took the old session go with the new one.
    if (previous != AuthState::Kind::authenticated && lastAuthKind_ == AuthState::Kind::authenticated &&
        uploads_) {
        uploads_->resumeAfterSignIn();
    }
}

} // namespace veltrane
