// bench_encode: runs one hour of synthetic 48 kHz stereo audio in 10 ms buffers through the
// recorder's system-audio intake and the chunk writer on FFmpeg (a new chunk every 300 s), once
// as WAV and once as M4A, and has the
// ffmpeg command line encode the same PCM with the same encoder; prints wall and CPU time of
// both, the ratios ours/ffmpeg and the peak memory.
//
// Usage: bench_encode [--seconds N] [--chunk-seconds N] [--format wav|m4a|both]
#include "encode/CommandLineEncodeRun.h"
#include "encode/ResourceUsage.h"
#include "encode/SyntheticAudio.h"
#include "encode/WriterEncodeRun.h"
#include "platform/encoding/ffmpeg/FfmpegAudioEncoder.h"
#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace veltrane;
using namespace veltrane::bench;
namespace fs = std::filesystem;

struct BenchFormat {
    std::string name;
    MediaFileType fileType;
    AudioOutputSettings settings;
    std::vector<std::string> ffmpegArguments;
};

struct BenchOptions {
    std::int64_t seconds = 3600;
    std::int64_t chunkSeconds = 300;
    std::string format = "both";
};

BenchOptions parseOptions(int argc, char** argv) {
    BenchOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        if (name == "--seconds") {
            options.seconds = std::atoll(argv[i + 1]);
        } else if (name == "--chunk-seconds") {
            options.chunkSeconds = std::atoll(argv[i + 1]);
        } else if (name == "--format") {
            options.format = argv[i + 1];
        }
    }
    return options;
}

void printCost(const char* label, const StepCost& cost) {
    std::printf("  %-8s wall %8.2f s   cpu %8.2f s\n", label, cost.wallSeconds, cost.cpuSeconds);
}

// One format: our writer, then the command line; false when either failed.
bool benchFormat(const BenchFormat& format, const BenchOptions& options, const SyntheticAudio& audio,
                 const fs::path& rawInput, const fs::path& workDirectory) {
    const fs::path ourDirectory = workDirectory / ("ours-" + format.name);
    fs::create_directories(ourDirectory);
    FfmpegMediaFileWriterFactory factory;
    WriterEncodeOptions runOptions;
    runOptions.fileType = format.fileType;
    runOptions.settings = format.settings;
    runOptions.fileExtension = format.name;
    runOptions.totalFrames = options.seconds * SyntheticAudio::kSampleRateHz;
    runOptions.chunkFrames = options.chunkSeconds * SyntheticAudio::kSampleRateHz;
    runOptions.directory = ourDirectory;

    const auto ourStart = ResourceUsage::now();
    const WriterEncodeResult ours = WriterEncodeRun(audio, factory, runOptions).run();
    const StepCost ourCost = costBetween(ourStart, ResourceUsage::now(), true);

    std::string failure;
    const fs::path baselineOutput = workDirectory / ("ffmpeg." + format.name);
    const auto baselineStart = ResourceUsage::now();
    const bool baselineOk =
        CommandLineEncodeRun(rawInput, format.ffmpegArguments, baselineOutput).run(failure);
    const StepCost baselineCost = costBetween(baselineStart, ResourceUsage::now(), false);

    std::printf("%s, %lld s of audio, %lld s per file:\n", format.name.c_str(),
                static_cast<long long>(options.seconds), static_cast<long long>(options.chunkSeconds));
    std::printf(
        "  ours: %d files completed, %d failed, %lld frames appended, %lld refused, %lld waits, %.1f MB\n",
        ours.filesCompleted, ours.filesFailed, static_cast<long long>(ours.framesAppended),
        static_cast<long long>(ours.framesRefused), static_cast<long long>(ours.notReadyWaits),
        static_cast<double>(ours.bytesWritten) / 1e6);
    if (!ours.firstError.empty()) {
        std::printf("  ours: error: %s\n", ours.firstError.c_str());
    }
    printCost("ours", ourCost);
    if (!baselineOk) {
        std::printf("  ffmpeg: %s\n", failure.c_str());
        return false;
    }
    std::error_code ignored;
    std::printf("  ffmpeg: 1 file, %.1f MB\n",
                static_cast<double>(fs::file_size(baselineOutput, ignored)) / 1e6);
    printCost("ffmpeg", baselineCost);
    std::printf("  ratio ours/ffmpeg: wall %.3f   cpu %.3f\n", ourCost.wallSeconds / baselineCost.wallSeconds,
                ourCost.cpuSeconds / baselineCost.cpuSeconds);
    std::fflush(stdout);
    fs::remove_all(ourDirectory, ignored);
    fs::remove(baselineOutput, ignored);
    return ours.filesFailed == 0 && ours.framesRefused == 0;
}

} // namespace

int main(int argc, char** argv) {
    limitFfmpegLoggingToErrors();
    const BenchOptions options = parseOptions(argc, argv);
    std::string pattern = (fs::temp_directory_path() / "veltrane-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path workDirectory = pattern;

    const SyntheticAudio audio;
    const fs::path rawInput = workDirectory / "input.f32le";
    std::printf("generating %lld s of raw f32le input (not measured)...\n",
                static_cast<long long>(options.seconds));
    std::fflush(stdout);
    bool ok = audio.writeRawFile(rawInput, options.seconds * SyntheticAudio::kSampleRateHz);

    const std::vector<BenchFormat> formats = {
        {"wav",
         MediaFileType::wave,
         AudioOutputSettings::wav16Stereo48k(),
         {"-c:a", "pcm_s16le", "-f", "wav"}},
        {"m4a",
         MediaFileType::appleM4A,
         AudioOutputSettings::aacStereo48k(),
         {"-c:a", "aac", "-b:a", "192000", "-f", "ipod"}},
    };
    for (const auto& format : formats) {
        if (ok && (options.format == "both" || options.format == format.name)) {
            ok = benchFormat(format, options, audio, rawInput, workDirectory);
        }
    }
    std::printf("peak RSS: bench_encode %.1f MB, largest ffmpeg child %.1f MB\n",
                ResourceUsage::selfPeakRssMegabytes(), ResourceUsage::childrenPeakRssMegabytes());

    std::error_code ignored;
    fs::remove_all(workDirectory, ignored);
    return ok ? 0 : 1;
}
