// Test helper: saves the upload queue file in a loop until it is killed.
// Usage: upload_queue_save_loop <folder>. Prints "ready" after the first save.
#include "upload/UploadQueueFile.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const veltrane::UploadQueueFile file{argv[1]};
    std::vector<veltrane::UploadJob> jobs;
    for (long round = 0;; ++round) {
        // Vary the length so that an interrupted overwrite would show as a torn file.
        if (jobs.size() > 300) {
            jobs.resize(1);
        }
        auto job =
            veltrane::UploadJob::makeNew("chunk-" + std::to_string(round) + ".wav", "prj-alpha", "Alpha",
                                         "mtg", "Weekly", 300.0, veltrane::ReferenceDate{double(round)});
        job.lastError = std::string(static_cast<std::size_t>(round % 4000), 'e');
        jobs.push_back(std::move(job));
        if (!file.save(jobs)) {
            std::fprintf(stderr, "save failed\n");
            return 1;
        }
        if (round == 0) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
}
