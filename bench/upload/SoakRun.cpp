#include "upload/SoakRun.h"

#include "devserver/DevServer.h"
#include "upload/BenchSignIn.h"
#include "upload/ChunkFiles.h"
#include "upload/ScaledRetryTimer.h"
#include "upload/ScaledUploadClock.h"
#include "upload/UploadDriver.h"

#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <iostream>

namespace veltrane::bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kFaultSwitchInterval = std::chrono::milliseconds(150);
constexpr auto kRoundTimeLimit = std::chrono::minutes(5);
constexpr int kMaxRetryAllRounds = 10;

// The three kinds of injected failure, taken in turn.
devserver::FaultOptions faultsFor(int step, int failurePercent) {
    devserver::FaultOptions faults;
    faults.uploadFailurePercent = failurePercent;
    faults.randomSeed = static_cast<std::uint32_t>(step + 1);
    switch (step % 3) {
    case 0:
        faults.uploadFailureStatus = 500;
        break;
    case 1:
        faults.uploadFailureClosesConnection = true;
        break;
    default:
        faults.uploadFailureStatus = 401;
        break;
    }
    return faults;
}

std::size_t countState(const std::vector<UploadJob>& jobs, UploadState state) {
    return static_cast<std::size_t>(std::count_if(
        jobs.begin(), jobs.end(), [state](const UploadJob& job) { return job.state == state; }));
}

} // namespace

bool SoakRun::run(const Settings& settings, const fs::path& workDirectory) {
    const fs::path chunks = workDirectory / "soak-chunks";
    fs::create_directories(chunks);
    std::vector<std::string> names;
    std::uintmax_t totalBytes = 0;
    for (int i = 1; i <= settings.files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "soak1-chunk-%03d.wav", i);
        const std::uintmax_t bytes = 200'000 + static_cast<std::uintmax_t>(i) * 7'919;
        if (!ChunkFiles::write(chunks / name, bytes, static_cast<std::uint32_t>(i))) {
            std::cerr << "could not write the chunk files" << std::endl;
            return false;
        }
        names.emplace_back(name);
        totalBytes += bytes;
    }

    devserver::Options options;
    options.dataDir = workDirectory / "soak-server";
    options.logRequests = false;
    options.keepAliveTimeoutSeconds = 1;
    devserver::DevServer server(options);
    if (!server.start()) {
        return false;
    }
    const auto token = BenchSignIn::demoUserToken(server.port());
    if (!token) {
        return false;
    }

    int faultStep = 0;
    server.setFaults(faultsFor(faultStep, settings.failurePercent));
    QTimer faultSwitch;
    QObject::connect(&faultSwitch, &QTimer::timeout,
                     [&] { server.setFaults(faultsFor(++faultStep, settings.failurePercent)); });
    faultSwitch.start(kFaultSwitchInterval);

    UploadDriver driver(workDirectory / "soak-app-data",
                        QUrl(QString::fromStdString(server.baseURL() + "/api/v1")), chunks, *token,
                        std::make_shared<ScaledUploadClock>(settings.timeScale),
                        std::make_unique<ScaledRetryTimer>(settings.timeScale));
    UploadManager& manager = driver.manager();

    const auto start = Clock::now();
    for (const std::string& name : names) {
        manager.enqueue(name, {"prj-alpha", "Alpha Research", "mtg-alpha-kickoff", "Kickoff"}, 5.0);
    }
    int retryAllRounds = 0;
    std::size_t revived = 0;
    bool settled = driver.runUntilSettled(kRoundTimeLimit);
    while (settled && (countState(manager.jobs(), UploadState::failed) > 0 || manager.isPausedForSignIn()) &&
           retryAllRounds < kMaxRetryAllRounds) {
        revived += countState(manager.jobs(), UploadState::failed);
        ++retryAllRounds;
        // Injected 401s for a valid token pause the queue as an expired session would: the user
        // signs in again.
        manager.resumeAfterSignIn();
        manager.retryAll();
        // retryAll runs as a posted step; the first settle check comes after it.
        settled = driver.runUntilSettled(kRoundTimeLimit);
    }
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    faultSwitch.stop();
    server.setFaults(devserver::FaultOptions{});

    const std::vector<UploadJob>& jobs = manager.jobs();
    std::int64_t lastAttempts = 0;
    std::size_t identical = 0;
    for (const UploadJob& job : jobs) {
        lastAttempts += job.attempts;
        if (ChunkFiles::identical(chunks / job.filename,
                                  options.dataDir / "prj-alpha" / "mtg-alpha-kickoff" / job.filename)) {
            ++identical;
        }
    }
    const std::size_t requests = server.requestCount("/api/v1/ingestion/upload");
    const std::size_t completed = countState(jobs, UploadState::completed);
    const std::size_t pending =
        countState(jobs, UploadState::pending) + countState(jobs, UploadState::uploading);
    std::printf(
        "upload soak (%d files, %.1f MB, %d %% of uploads failed as 500 / dropped connection / 401 in "
        "turn, back-off clock x%.0f):\n",
        settings.files, static_cast<double>(totalBytes) / 1e6, settings.failurePercent, settings.timeScale);
    std::printf("  jobs: %zu completed, %zu pending, %zu failed; %zu byte-identical on the server\n",
                completed, pending, countState(jobs, UploadState::failed), identical);
    // The transfer layer may resend a request whose connection was dropped before any answer, so
    // the server can see more failed requests than the jobs count failed attempts.
    std::printf(
        "  upload requests at the server: %zu (%zu failed); failed attempts counted by the jobs: %lld\n",
        requests, requests - std::min(requests, completed), static_cast<long long>(lastAttempts));
    std::printf("  retryAll rounds: %d (%zu jobs brought back from failed)\n", retryAllRounds, revived);
    std::printf("  wall time: %.1f s%s\n", wallSeconds, settled ? "" : " (did not settle in time)");
    const bool whole =
        settled && completed == names.size() && identical == names.size() && jobs.size() == names.size();
    std::printf("  none lost, none stuck: %s\n", whole ? "yes" : "NO");
    server.stop();
    return whole;
}

} // namespace veltrane::bench
