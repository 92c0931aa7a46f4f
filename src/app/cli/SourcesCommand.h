#pragma once

#include "platform/capture/CaptureService.h"

#include <QObject>

#include <memory>

namespace veltrane {

// `veltrane-cli sources`: one line per capturable source, "<id>\t<name>", then one line per
// microphone, "mic\t<source name>\t<description>".
class SourcesCommand : public QObject {
    Q_OBJECT
public:
    explicit SourcesCommand(std::shared_ptr<CaptureService> capture, QObject* parent = nullptr);
    void run();

signals:
    void finished(int exitCode);

private:
    void listed(const std::expected<CaptureSourcesPtr, PlatformError>& result);

    std::shared_ptr<CaptureService> capture_;
};

} // namespace veltrane
