#pragma once

#include "app/AppEnvironment.h"
#include "devserver/DevServer.h"
#include "platform/settings/UserDefaults.h"
#include "recording/FakeCaptureService.h"
#include "server/FakeKeychainBackend.h"
#include "storage/FakeMediaFileWriter.h"

#include <QTemporaryDir>

#include <filesystem>
#include <memory>

namespace veltrane::test {

// What one application run stands on in tests: the stand-in server with its demo data, an
// in-memory keychain and user defaults, a scripted sound server and encoders that write empty
// files, all in a temporary folder. The keychain and defaults outlive each launched environment,
// so a second launch finds what the first one stored.
class AppTestRig {
public:
    // Starts the stand-in server; throws std::runtime_error when it cannot.
    AppTestRig();
    ~AppTestRig();

    [[nodiscard]] std::filesystem::path root() const {
        return std::filesystem::path(folder_.path().toStdString());
    }
    // A new environment over the rig's services.
    [[nodiscard]] std::unique_ptr<AppEnvironment> launch() const;

    std::unique_ptr<devserver::DevServer> server;
    std::shared_ptr<FakeKeychainBackend> keychain = std::make_shared<FakeKeychainBackend>();
    std::shared_ptr<InMemoryUserDefaults> defaults = std::make_shared<InMemoryUserDefaults>();
    std::shared_ptr<FakeCaptureService> capture = std::make_shared<FakeCaptureService>();
    std::shared_ptr<FakeMediaFileWriterFactory> writers = std::make_shared<FakeMediaFileWriterFactory>();

private:
    QTemporaryDir folder_;
};

} // namespace veltrane::test
