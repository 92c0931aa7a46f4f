#include "app/cli/UploadTransportHolder.h"

#include "server/HttpTransport.h"

namespace veltrane {

UploadTransportHolder::UploadTransportHolder() : transport_(std::make_unique<HttpTransport>()) {}

UploadTransportHolder::~UploadTransportHolder() = default;

} // namespace veltrane
