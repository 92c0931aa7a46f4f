#pragma once

#include "assignment/AssignmentModel.h"
#include "platform/capture/CaptureService.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/settings/UserDefaults.h"
#include "server/APIClient.h"
#include "server/AuthManager.h"
#include "server/CredentialStore.h"
#include "server/HttpTransport.h"
#include "server/ServerConfiguration.h"
#include "storage/ChunkRecovery.h"
#include "storage/RecordingDestination.h"
#include "upload/UploadManager.h"
#include "upload/UploadQueueFile.h"

#include <QCoroTask>
#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

class AudioRecorder;

// Process-wide set-up shared by the window and the command line. Call first in main, before any
// thread exists: blocks SIGINT and SIGTERM (they arrive through a SignalWatcher), makes log entries
// plain lines (installLogHandler), line-buffers standard output and limits FFmpeg's console output to errors.
void prepareProcess();
// Names the application, which places its settings and data folders; call once the Qt
// application object exists.
void nameApplication();

// Whether an environment takes the upload queue when it is built. Commands that never upload
// leave it to the window or another command.
enum class UploadQueueClaim { take, leave };

// The machine's services the application is built on. system() gives the real ones; tests swap
// in fakes.
struct AppPlatform {
    ServerConfiguration serverConfig{std::nullopt};
    CredentialStore credentials{nullptr, nullptr};
    std::shared_ptr<UserDefaults> userDefaults;
    std::filesystem::path applicationDataDirectory;
    std::shared_ptr<FolderChooser> folderChooser; // null: the folder cannot be chosen interactively
    std::shared_ptr<CaptureService> capture;
    std::shared_ptr<MediaFileWriterFactory> writerFactory;
    UploadManager::SessionFactory uploadSessionFactory; // null: the application's own session
    UploadQueueClaim uploadQueueClaim = UploadQueueClaim::take;

    // The sound server, FFmpeg, the system keychains, QSettings and the per-user data folder,
    // with the server from VELTRANE_SERVER_URL, the user's choice, the system-wide preset or the
    // built-in one. Throws std::invalid_argument when VELTRANE_SERVER_URL is not a usable URL.
    // Needs the application's name to be set.
    [[nodiscard]] static AppPlatform system();
};

// Owns every long-lived service of the application and wires them together: the window and
// the command line both run on one of these. Main thread only.
//
// The upload queue belongs to one process at a time. uploads() is null while another process
// holds it; takeUploadQueue() tries again, and chunks handed over meanwhile wait here until the
// queue is taken.
class AppEnvironment : public QObject {
    Q_OBJECT

public:
    explicit AppEnvironment(AppPlatform platform, QObject* parent = nullptr);
    ~AppEnvironment() override;

    [[nodiscard]] const ServerConfiguration& serverConfig() const noexcept { return serverConfig_; }
    // Talks to the server at `text` from now on and remembers it as the user's choice. Throws
    // std::invalid_argument (with a readable message) when it is not a usable server address.
    void changeServer(const QString& text);
    [[nodiscard]] AuthManager& auth() noexcept { return auth_; }
    [[nodiscard]] APIClient& apiClient() noexcept { return apiClient_; }
    [[nodiscard]] AssignmentModel& assignment() noexcept { return assignment_; }
    [[nodiscard]] UploadManager* uploads() noexcept { return uploads_.get(); }
    [[nodiscard]] RecordingDestination& destination() noexcept { return *destination_; }
    [[nodiscard]] const std::shared_ptr<UserDefaults>& userDefaults() const noexcept {
        return platform_.userDefaults;
    }
    [[nodiscard]] const std::shared_ptr<CaptureService>& capture() const noexcept {
        return platform_.capture;
    }
    [[nodiscard]] const std::shared_ptr<MediaFileWriterFactory>& writerFactory() const noexcept {
        return platform_.writerFactory;
    }
    [[nodiscard]] const std::filesystem::path& applicationDataDirectory() const noexcept {
        return platform_.applicationDataDirectory;
    }

    // The start-up sequence: restores the session, reconnects the upload session and, when signed
    // in, loads the projects and meetings.
    [[nodiscard]] QCoro::Task<> bootstrap();

    // Takes the upload queue when no other process holds it (true when this environment holds it
    // afterwards). Queues the chunks that were waiting for it.
    bool takeUploadQueue();
    // Lets the queue go, so that another process can take it over.
    void releaseUploadQueue();

    // Queues an upload of the finished chunk `chunk` under `filing`, now or once the queue is
    // taken. The job looks for the file in the recording folder.
    void fileChunk(const std::filesystem::path& chunk, const ChunkFiling& filing);
    // Decides, as a chunk is reported, whether it is filed now (true) or left to the caller.
    using ChunkGate = std::function<bool(const std::filesystem::path& chunk)>;
    // The one way a recording's chunks reach the upload queue, for the window and the command
    // line alike: every chunk `recorder` reports from now on is filed as it is reported, under
    // the filing reported with it, unless it has none or `gate` (which sees every chunk first)
    // keeps it back. Since the recorder reports every chunk before its whenStopped callbacks
    // run, a stopped recording's chunks are all in the queue (or waiting for it) by then.
    void fileChunksOf(AudioRecorder& recorder, ChunkGate gate = {});

    // Finishes the chunks in the recording folder whose process died while writing them and
    // queues those filed under a project. An environment that does not claim the upload queue
    // leaves filed chunks for one that does. Returns what was recovered.
    std::vector<RecoveredChunk> recoverInterruptedChunks();
    [[nodiscard]] std::size_t waitingChunkCount() const noexcept { return waitingChunks_.size(); }

signals:
    // uploads() appeared or went away.
    void uploadsChanged();

private:
    [[nodiscard]] std::unique_ptr<UploadManager> makeUploadManager() const;
    void bindProviders(UploadManager& uploads);
    void authStateChanged();

    AppPlatform platform_;
    ServerConfiguration serverConfig_;
    HttpTransport transport_;
    AuthManager auth_;
    APIClient apiClient_;
    AssignmentModel assignment_;
    std::unique_ptr<UploadQueueLock> uploadLock_;
    std::unique_ptr<UploadManager> uploads_;
    std::unique_ptr<RecordingDestination> destination_;
    // A finished chunk waiting for the queue to be taken.
    struct WaitingChunk {
        std::string filename;
        ChunkFiling filing;
    };
    std::vector<WaitingChunk> waitingChunks_;
    AuthState::Kind lastAuthKind_ = AuthState::Kind::unknown;
    bool bootstrapped_ = false;
};

} // namespace veltrane
