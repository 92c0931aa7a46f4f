#pragma once

#include "app/AppEnvironment.h"
#include "platform/settings/UserDefaults.h"
#include "recording/FakeCaptureService.h"
#include "storage/FakeMediaFileWriter.h"
#include "support/FakeKeychainBackend.h"
#include "support/StandInServer.h"

#include <QTemporaryDir>

namespace veltrane::test {

// What one application run stands on in tests: the stand-in server with its demo data, an
// in-memory keychain and user defaults, a scripted sound server and encoders that write empty
// files, all in a temporary folder. The keychain and defaults outlive each launched environment,
// so a second launch finds what the first one stored.
struct AppTestRig {
    [[nodiscard]] std::filesystem::path root() const { return folder.path().toStdString(); }

    // A new environment over the rig's services.
    [[nodiscard]] std::unique_ptr<AppEnvironment> launch() const {
        AppPlatform platform;
        platform.serverConfig =
            ServerConfiguration(QUrl(QString::fromStdString(server.baseURL())), ServerSource::user);
        platform.credentials = CredentialStore(keychain, nullptr);
        platform.userDefaults = defaults;
        platform.applicationDataDirectory = root() / "app";
        platform.capture = capture;
        platform.writerFactory = writers;
        platform.folderChooser = folderChooser;
        return std::make_unique<AppEnvironment>(std::move(platform));
    }

    QTemporaryDir folder; // first: the server keeps its data in it
    StandInServer server{StandInMode::inProcess, root() / "server"};
    std::shared_ptr<FakeKeychainBackend> keychain = std::make_shared<FakeKeychainBackend>();
    std::shared_ptr<InMemoryUserDefaults> defaults = std::make_shared<InMemoryUserDefaults>();
    std::shared_ptr<FakeCaptureService> capture = std::make_shared<FakeCaptureService>();
    std::shared_ptr<FakeMediaFileWriterFactory> writers = std::make_shared<FakeMediaFileWriterFactory>();
    std::shared_ptr<FolderChooser> folderChooser; // none: Record without a folder does nothing
};

} // namespace veltrane::test
