#include "support/StandInServer.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

namespace veltrane::test {

StandInServer::StandInServer(StandInMode mode, std::filesystem::path dataDir,
                             const QStringList& programArguments)
    : dataDir_(std::move(dataDir)) {
    if (mode == StandInMode::inProcess) {
        devserver::Options options;
        options.dataDir = dataDir_;
        options.logRequests = false;
        options.keepAliveTimeoutSeconds = 1;
        server_ = std::make_unique<devserver::DevServer>(options);
        port_ = server_->start() ? server_->port() : 0;
        return;
    }
    process_ = std::make_unique<QProcess>();
    process_->start(
        QString::fromLocal8Bit(std::getenv("VELTRANE_DEVSERVER")),
        QStringList{"--port", "0", "--data", QString::fromStdString(dataDir_.string()), "--quiet"} +
            programArguments);
    const QRegularExpression listening("Listening on http://127\\.0\\.0\\.1:(\\d+)\n");
    const QDeadlineTimer deadline(30'000);
    QString output;
    while (port_ == 0 && !deadline.hasExpired() && process_->waitForReadyRead(1000)) {
        output += QString::fromUtf8(process_->readAllStandardOutput());
        port_ = listening.match(output).captured(1).toInt();
    }
    EXPECT_GT(port_, 0) << "the stand-in server did not start: " << output.toStdString()
                        << process_->readAllStandardError().toStdString();
}

StandInServer::~StandInServer() {
    stop();
}

std::string StandInServer::baseURL() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

devserver::DevServer& StandInServer::inProcess() {
    return *server_;
}

void StandInServer::stop() {
    if (server_) {
        server_->stop();
    } else if (process_ && process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(20'000)) {
            process_->kill();
            process_->waitForFinished(20'000);
        }
    }
}

std::string StandInServer::signInDemoUser() const {
    httplib::Client client("127.0.0.1", port_);
    const auto flow = client.Get("/self-service/login/api");
    if (!flow || flow->status != 200) {
        ADD_FAILURE() << "the login flow could not be started";
        return {};
    }
    const nlohmann::json form = {
        {"method", "password"}, {"identifier", kDemoEmail}, {"password", kDemoPassword}};
    const auto session = client.Post("/self-service/login?flow=" +
                                         nlohmann::json::parse(flow->body).at("id").get<std::string>(),
                                     form.dump(), "application/json");
    if (!session || session->status != 200) {
        ADD_FAILURE() << "the demo user could not sign in";
        return {};
    }
    return nlohmann::json::parse(session->body).at("session_token").get<std::string>();
}

} // namespace veltrane::test
