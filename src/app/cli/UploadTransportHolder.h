#pragma once

#include <memory>

namespace veltrane {

class HttpTransport;

// Owns the one HttpTransport of the upload commands' services. Keeps the transport's header out
// of files that also see the transfer session's types (both define an HttpResponse).
class UploadTransportHolder {
public:
    UploadTransportHolder();
    ~UploadTransportHolder();
    UploadTransportHolder(const UploadTransportHolder&) = delete;
    UploadTransportHolder& operator=(const UploadTransportHolder&) = delete;

    [[nodiscard]] HttpTransport& transport() { return *transport_; }

private:
    std::unique_ptr<HttpTransport> transport_;
};

} // namespace veltrane
