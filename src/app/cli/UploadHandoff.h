#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

class ProjectService;
class UploadManager;

// Turns every finished chunk of a command-line recording into an upload job for the project
// and meeting given on the command line, as the main screen's hand-off does. The display names
// are looked up once at start; until that answer is in, finished chunks wait here (the
// recording itself never waits for the network). A failed lookup falls back to the ids.
// Main thread only.
class UploadHandoff : public QObject {
    Q_OBJECT
public:
    // `uploads` and `projects` must outlive the hand-off.
    UploadHandoff(UploadManager& uploads, ProjectService& projects, std::string projectId,
                  std::optional<std::string> meetingId, QObject* parent = nullptr);

    // Starts the name lookup when `signedIn`; otherwise the ids serve as names at once.
    void start(bool signedIn);
    // The chunk hand-off: queues the chunk file for upload with a post to the main thread.
    void chunkReady(const std::filesystem::path& chunkFile);
    // Queues the chunks still waiting for the names at once, under the names known so far
    // (the ids unless the lookup has answered). For an interruption: nothing may be left behind.
    void flushNow();
    // True when every chunk handed over so far has reached the upload manager.
    [[nodiscard]] bool isIdle() const { return namesKnown_ && postsInFlight_ == 0 && waiting_.empty(); }

signals:
    // Emitted whenever the hand-off becomes idle.
    void idle();

private:
    void namesResolved(std::optional<std::string> projectName, std::optional<std::string> meetingName);
    void handOver(const std::string& filename);
    void enqueue(const std::string& filename);
    void reportIfIdle();

    UploadManager& uploads_;
    ProjectService& projects_;
    std::string projectId_;
    std::optional<std::string> meetingId_;
    std::string projectName_;
    std::optional<std::string> meetingName_;
    bool namesKnown_ = false;
    int postsInFlight_ = 0;
    std::vector<std::string> waiting_; // file names handed over before the names were known
};

} // namespace veltrane
