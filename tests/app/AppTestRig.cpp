#include "app/AppTestRig.h"

#include <stdexcept>

namespace veltrane::test {

AppTestRig::AppTestRig() {
    devserver::Options options;
    options.dataDir = (root() / "server").string();
    options.logRequests = false;
    options.keepAliveTimeoutSeconds = 1;
    server = std::make_unique<devserver::DevServer>(options);
    if (!server->start()) {
        throw std::runtime_error("the stand-in server did not start");
    }
}

AppTestRig::~AppTestRig() {
    server->stop();
}

std::unique_ptr<AppEnvironment> AppTestRig::launch() const {
    AppPlatform platform;
    platform.serverConfig = ServerConfiguration(QUrl(QString::fromStdString(server->baseUrl())));
    platform.credentials = CredentialStore(keychain, nullptr);
    platform.userDefaults = defaults;
    platform.applicationDataDirectory = root() / "app";
    platform.capture = capture;
    platform.writerFactory = writers;
    return std::make_unique<AppEnvironment>(std::move(platform));
}

} // namespace veltrane::test
