// The upload queue file's content: decoding any bytes must neither crash nor throw, and whatever
// decodes (or is salvaged) must survive being saved and read back unchanged.
#include "FuzzCheck.h"
#include "upload/UploadJob.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto decoded =
        veltrane::decodeUploadJobs(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string saved;
    try {
        saved = veltrane::encodeUploadJobs(decoded.jobs);
    } catch (const std::exception&) {
        return 0; // the queue file's save() reports this as a failed save
    }
    const auto reread = veltrane::decodeUploadJobs(saved);
    FUZZ_CHECK(reread.isClean());
    FUZZ_CHECK(reread.jobs == decoded.jobs);
    return 0;
}
