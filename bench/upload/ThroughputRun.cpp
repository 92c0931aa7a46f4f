#include "upload/ThroughputRun.h"

#include "upload/BenchSignIn.h"
#include "upload/ChunkFiles.h"
#include "upload/DevServerProcess.h"
#include "upload/ProcessMemory.h"
#include "upload/UploadDriver.h"

#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <vector>

namespace veltrane::bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kUploadTimeLimit = std::chrono::minutes(2);
constexpr int kCurlTimeLimitMs = 120000;
const char* const kProjectId = "prj-alpha";
const char* const kMeetingId = "mtg-alpha-kickoff";

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double megabytes(std::uintmax_t bytes) {
    return static_cast<double>(bytes) / 1e6;
}

// Seconds curl took to send the file as a multipart POST; negative on failure.
double curlUploadSeconds(const QString& url, const std::string& token, const fs::path& file,
                         const std::string& name) {
    QProcess curl;
    curl.start(
        QStringLiteral("curl"),
        {QStringLiteral("-sS"), QStringLiteral("--max-time"), QStringLiteral("120"), QStringLiteral("-o"),
         QStringLiteral("/dev/null"), QStringLiteral("-w"), QStringLiteral("%{http_code} %{time_total}"),
         QStringLiteral("-H"), QString::fromStdString("Authorization: Bearer " + token), QStringLiteral("-F"),
         QStringLiteral("project_id=") + kProjectId, QStringLiteral("-F"),
         QStringLiteral("meeting_id=") + kMeetingId, QStringLiteral("-F"),
         QString::fromStdString("file=@" + file.string() + ";filename=" + name + ";type=audio/wav"), url});
    if (!curl.waitForFinished(kCurlTimeLimitMs) || curl.exitCode() != 0) {
        curl.kill();
        std::cerr << "curl failed: " << curl.readAllStandardError().toStdString() << std::endl;
        return -1.0;
    }
    const QStringList answer = QString::fromUtf8(curl.readAllStandardOutput()).split(QLatin1Char(' '));
    if (answer.size() != 2 || !answer[0].startsWith(QLatin1Char('2'))) {
        std::cerr << "curl upload refused: " << answer.join(QLatin1Char(' ')).toStdString() << std::endl;
        return -1.0;
    }
    return answer[1].toDouble();
}

struct OurUpload {
    double totalSeconds = -1.0; // enqueue to completion
    double bodySeconds = 0.0;   // of which writing the multipart body file (inside enqueue)
    long peakGrowthKib = -1;
};

OurUpload ourUpload(UploadDriver& driver, const std::string& name) {
    OurUpload result;
    UploadManager& manager = driver.manager();
    std::optional<Clock::time_point> completedAt;
    const auto connection = QObject::connect(&manager, &UploadManager::jobsChanged, [&] {
        for (const UploadJob& job : manager.jobs()) {
            if (job.filename == name && job.state == UploadState::completed && !completedAt) {
                completedAt = Clock::now();
            }
        }
    });
    const std::optional<long> before = ProcessMemory::residentKib();
    const bool peakReset = ProcessMemory::resetPeak();
    const auto start = Clock::now();
    manager.enqueue(name, {kProjectId, "Alpha Research", kMeetingId, "Kickoff"}, 300.0);
    result.bodySeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool settled = driver.runUntilSettled(kUploadTimeLimit);
    QObject::disconnect(connection);
    const std::optional<long> peak = ProcessMemory::peakResidentKib();
    if (settled && completedAt) {
        result.totalSeconds = std::chrono::duration<double>(*completedAt - start).count();
    }
    if (peakReset && before && peak) {
        result.peakGrowthKib = *peak - *before;
    }
    return result;
}

} // namespace

bool ThroughputRun::run(const Settings& settings, const fs::path& workDirectory) {
    const fs::path chunks = workDirectory / "throughput-chunks";
    const fs::path serverData = workDirectory / "throughput-server";
    fs::create_directories(chunks);
    fs::create_directories(serverData);
    const fs::path source = chunks / "source.wav";
    if (!ChunkFiles::write(source, settings.fileBytes, 58) ||
        !ChunkFiles::write(chunks / "warmup.wav", 100'000, 1)) {
        std::cerr << "could not write the chunk files" << std::endl;
        return false;
    }
    DevServerProcess server(settings.devserverProgram, QString::fromStdString(serverData.string()));
    if (!server.isListening()) {
        std::cerr << "the stand-in server did not start" << std::endl;
        return false;
    }
    const auto token = BenchSignIn::demoUserToken(server.port());
    if (!token) {
        return false;
    }
    const QString apiBase = server.baseURL() + QStringLiteral("/api/v1");
    UploadDriver driver(workDirectory / "throughput-app-data", QUrl(apiBase), chunks, *token);

    // Warm up both clients (threads, connection set-up, page cache) before measuring.
    if (ourUpload(driver, "warmup.wav").totalSeconds < 0 ||
        curlUploadSeconds(apiBase + QStringLiteral("/ingestion/upload"), *token, source, "curl-warmup.wav") <
            0) {
        std::cerr << "warm-up upload failed" << std::endl;
        return false;
    }

    std::vector<double> ours;
    std::vector<double> oursTransfer;
    std::vector<double> curls;
    long worstGrowthKib = -1;
    bool identical = true;
    for (int round = 1; round <= settings.rounds; ++round) {
        const std::string name = "round-" + std::to_string(round) + ".wav";
        fs::create_hard_link(source, chunks / name);
        const OurUpload upload = ourUpload(driver, name);
        const double curlSeconds = curlUploadSeconds(apiBase + QStringLiteral("/ingestion/upload"), *token,
                                                     source, "curl-" + std::to_string(round) + ".wav");
        if (upload.totalSeconds <= 0 || curlSeconds <= 0) {
            std::cerr << "round " << round << " failed" << std::endl;
            return false;
        }
        identical =
            identical && ChunkFiles::identical(source, serverData / "prj-alpha" / "mtg-alpha-kickoff" / name);
        ours.push_back(upload.totalSeconds);
        oursTransfer.push_back(upload.totalSeconds - upload.bodySeconds);
        curls.push_back(curlSeconds);
        worstGrowthKib = std::max(worstGrowthKib, upload.peakGrowthKib);
        std::printf(
            "  round %d: UploadManager %.3f s (body file %.3f s), curl -F %.3f s, peak RSS growth %.1f MiB\n",
            round, upload.totalSeconds, upload.bodySeconds, curlSeconds,
            static_cast<double>(upload.peakGrowthKib) / 1024.0);
    }
    const double mb = megabytes(settings.fileBytes);
    const double ourRate = mb / median(ours);
    const double curlRate = mb / median(curls);
    std::printf("upload throughput (%.1f MB chunk, median of %d, 127.0.0.1):\n", mb, settings.rounds);
    std::printf("  UploadManager  %8.1f MB/s end to end (%.1f MB/s after the body file was written)\n",
                ourRate, mb / median(oursTransfer));
    std::printf("  curl -F        %8.1f MB/s\n", curlRate);
    std::printf("  ratio          %8.2f x curl (target >= 0.90)\n", ourRate / curlRate);
    std::printf("  peak RSS growth during an upload: %.1f MiB (target < 16 MiB)\n",
                static_cast<double>(worstGrowthKib) / 1024.0);
    std::printf("  stored files byte-identical: %s\n", identical ? "yes" : "NO");
    return identical;
}

} // namespace veltrane::bench
