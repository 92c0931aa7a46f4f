#include "devserver/DevServer.h"
#include "devserver/FaultInjector.h"
#include "devserver/Records.h"
#include "devserver/Routes.h"
#include "devserver/Stores.h"
#include "devserver/WireFormat.h"

#include <httplib.h>
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <thread>

namespace veltrane::devserver {

namespace {

// Chunk uploads are a few tens of megabytes; leave ample room.
constexpr std::size_t kMaxPayloadBytes = 512ull * 1024 * 1024;
constexpr auto kStartupWaitLimit = std::chrono::seconds(10);

[[nodiscard]] const char* defaultErrorText(int status) {
    switch (status) {
    case 400:
        return "Bad request";
    case 404:
        return "Not found";
    case 405:
        return "Method not allowed";
    case 413:
        return "The request is too large";
    default:
        return "Request failed";
    }
}

} // namespace

// Everything the server holds while it lives. The parts that do not depend on the seed data exist
// from construction on, so that faults can be set and requests counted before start().
struct DevServer::Runtime {
    explicit Runtime(const Options& options)
        : flows(std::chrono::seconds(options.loginFlowLifetimeSeconds)), faults(options.faults),
          log(options.logRequests) {
        sessions.setExpiresAfterRequests(options.faults.tokenExpiresAfterRequests);
    }

    IDGenerator ids;
    LoginFlowRegistry flows;
    SessionRegistry sessions;
    Authenticator authenticator{sessions};
    FaultInjector faults;
    RequestLog log;

    std::unique_ptr<UserDirectory> users;
    std::unique_ptr<ProjectCatalog> catalog;
    std::unique_ptr<UploadStore> uploads;
    std::unique_ptr<httplib::Server> server;
    std::unique_ptr<AuthRoutes> authRoutes;
    std::unique_ptr<ProjectRoutes> projectRoutes;
    std::unique_ptr<UploadRoutes> uploadRoutes;
    std::thread thread;
    std::atomic<int> boundPort = 0;
    bool tls = false;
};

DevServer::DevServer(Options options)
    : options_(std::move(options)), runtime_(std::make_unique<Runtime>(options_)) {}

DevServer::~DevServer() {
    stop();
}

bool DevServer::start() {
    Runtime& rt = *runtime_;
    if (rt.thread.joinable()) {
        return true;
    }
    if (!rt.catalog) {
        auto seed = options_.seedFile ? SeedData::load(*options_.seedFile) : SeedData::demo();
        if (!seed) {
            std::cerr << "devserver: " << seed.error() << '\n';
            return false;
        }
        rt.users = std::make_unique<UserDirectory>(std::move(seed->users));
        rt.catalog = std::make_unique<ProjectCatalog>(std::move(seed->projects), std::move(seed->meetings));
    }
    const auto dataDir =
        options_.dataDir.empty() ? std::filesystem::current_path() / "devserver-data" : options_.dataDir;
    rt.uploads = std::make_unique<UploadStore>(dataDir, rt.ids);
    if (!rt.uploads->prepare()) {
        std::cerr << "devserver: cannot create the data folder " << dataDir << '\n';
        return false;
    }

    if (options_.tlsCertFile.has_value() != options_.tlsKeyFile.has_value()) {
        std::cerr << "devserver: TLS needs both a certificate and a key file\n";
        return false;
    }
    rt.tls = options_.tlsCertFile.has_value();
    if (rt.tls) {
        auto server =
            std::make_unique<httplib::SSLServer>(options_.tlsCertFile->c_str(), options_.tlsKeyFile->c_str());
        if (!server->is_valid()) {
            std::cerr << "devserver: cannot load the TLS certificate or key\n";
            return false;
        }
        rt.server = std::move(server);
    } else {
        rt.server = std::make_unique<httplib::Server>();
    }

    httplib::Server& server = *rt.server;
    server.set_payload_max_length(kMaxPayloadBytes);
    server.set_keep_alive_timeout(options_.keepAliveTimeoutSeconds);
    server.set_pre_routing_handler([&rt](const httplib::Request& request, httplib::Response&) {
        rt.log.begin(request);
        if (const int delayMs = rt.faults.options().responseDelayMs; delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_logger([&rt](const httplib::Request& request, const httplib::Response& response) {
        rt.log.finish(request, response);
    });
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
            if (!response.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            Responses::text(response, response.status, defaultErrorText(response.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            Responses::text(response, 500, "Internal server error");
        });

    if (options_.port == 0) {
        rt.boundPort = server.bind_to_any_port(options_.host);
    } else if (server.bind_to_port(options_.host, options_.port)) {
        rt.boundPort = options_.port;
    } else {
        rt.boundPort = -1;
    }
    if (rt.boundPort <= 0) {
        std::cerr << "devserver: cannot listen on " << options_.host << ":" << options_.port << '\n';
        rt.boundPort = 0;
        rt.server.reset();
        return false;
    }

    rt.authRoutes = std::make_unique<AuthRoutes>(baseURL(), rt.flows, rt.sessions, *rt.users, rt.ids);
    rt.projectRoutes = std::make_unique<ProjectRoutes>(*rt.catalog, rt.authenticator, rt.ids);
    rt.uploadRoutes =
        std::make_unique<UploadRoutes>(*rt.uploads, *rt.catalog, rt.authenticator, rt.faults, rt.log, rt.ids);
    rt.authRoutes->registerOn(server);
    rt.projectRoutes->registerOn(server);
    rt.uploadRoutes->registerOn(server);

    rt.thread = std::thread([&server] {
        // A peer that goes away while an answer is written must not end the process; the
        // worker threads started from here inherit this mask.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        server.listen_after_bind();
    });
    // The socket already accepts connections; wait until stop() can also end the serving loop.
    const auto deadline = std::chrono::steady_clock::now() + kStartupWaitLimit;
    while (!server.is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int DevServer::port() const {
    const int bound = runtime_->boundPort;
    return bound > 0 ? bound : options_.port;
}

std::string DevServer::baseURL() const {
    const bool tls = options_.tlsCertFile.has_value() && options_.tlsKeyFile.has_value();
    return std::string(tls ? "https://" : "http://") + options_.host + ":" + std::to_string(port());
}

void DevServer::stop() {
    Runtime& rt = *runtime_;
    if (!rt.thread.joinable()) {
        return;
    }
    rt.server->stop();
    rt.thread.join();
    rt.server.reset();
    rt.boundPort = 0;
}

void DevServer::setFaults(const FaultOptions& faults) {
    runtime_->faults.setOptions(faults);
    runtime_->sessions.setExpiresAfterRequests(faults.tokenExpiresAfterRequests);
}

std::size_t DevServer::requestCount(const std::string& pathPrefix) const {
    return runtime_->log.count(pathPrefix);
}

} // namespace veltrane::devserver
