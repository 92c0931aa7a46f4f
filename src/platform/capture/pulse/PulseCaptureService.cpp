#include "platform/capture/pulse/PulseCaptureService.h"

#include "platform/capture/pulse/PulseConnection.h"
#include "platform/capture/pulse/PulseMicrophoneCapture.h"
#include "platform/capture/pulse/PulseSystemAudioStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace veltrane {

std::uint32_t deviceIDForDeviceName(std::string_view deviceName) {
    constexpr std::uint32_t kOffsetBasis = 2166136261u;
    constexpr std::uint32_t kPrime = 16777619u;
    std::uint32_t hash = kOffsetBasis;
    for (const char c : deviceName) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= kPrime;
    }
    return hash == 0 ? 1u : hash;
}

namespace {

constexpr const char* kClientName = "VeltraneRecorder";

struct Query {
    PulseConnection* connection = nullptr;
    ShareableContent content;
    std::vector<CaptureDevice> devices;
    std::string defaultSinkName;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    if (info && info->default_sink_name) {
        query->defaultSinkName = info->default_sink_name;
    }
    query->connection->signal();
}

std::string propertyOrEmpty(const pa_proplist* properties, const char* key) {
    const char* value = properties ? pa_proplist_gets(properties, key) : nullptr;
    return value ? value : "";
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    if (eol == 0 && info) {
        OutputDevice device;
        device.name = info->name ? info->name : "";
        device.description = info->description ? info->description : device.name;
        device.displayID = deviceIDForDeviceName(device.name);
        query->content.displays.push_back(std::move(device));
    }
    query->connection->signal();
}

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    if (eol == 0 && info) {
        const std::string pidText = propertyOrEmpty(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        std::int32_t pid = 0;
        const auto [end, ec] = std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
        auto& apps = query->content.applications;
        const bool known = std::any_of(apps.begin(), apps.end(),
                                       [pid](const RunningApplication& app) { return app.processID == pid; });
        if (ec == std::errc() && pid > 0 && !known) {
            RunningApplication app;
            app.processID = pid;
            app.bundleIdentifier = propertyOrEmpty(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
            app.applicationName = propertyOrEmpty(info->proplist, PA_PROP_APPLICATION_NAME);
            if (app.applicationName.empty()) {
                app.applicationName = app.bundleIdentifier;
            }
            apps.push_back(std::move(app));
        }
    }
    query->connection->signal();
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    if (eol == 0 && info && info->monitor_of_sink == PA_INVALID_INDEX) {
        CaptureDevice device;
        device.uniqueID = info->name ? info->name : "";
        device.localizedName = info->description ? info->description : device.uniqueID;
        query->devices.push_back(std::move(device));
    }
    query->connection->signal();
}

PlatformError queryFailed(PulseConnection& connection, const char* what) {
    const int code = connection.lastErrorCode();
    return pulseErrorWithText(code != 0 ? code : PA_ERR_TIMEOUT,
                              std::string("Could not list the ") + what + ": ");
}

} // namespace

PulseCaptureService::PulseCaptureService(std::chrono::milliseconds timeout) : timeout_(timeout) {}

PulseCaptureService::~PulseCaptureService() {
    worker_.shutdown();
}

void PulseCaptureService::requestShareableContent(ContentCompletion completion) {
    worker_.post(
        [timeout = timeout_, completion = std::move(completion)] { completion(listContent(timeout)); });
}

std::expected<ShareableContentPtr, PlatformError>
PulseCaptureService::listContent(std::chrono::milliseconds timeout) {
    auto connection = PulseConnection::open(kClientName, timeout);
    if (!connection) {
        return std::unexpected(connection.error());
    }
    Query query;
    query.connection = connection->get();
    {
        PulseConnection::Lock lock(**connection);
        pa_context* context = (*connection)->context();
        if (!(*connection)->waitFor(pa_context_get_server_info(context, &onServerInfo, &query), timeout) ||
            !(*connection)->waitFor(pa_context_get_sink_info_list(context, &onSink, &query), timeout)) {
            return std::unexpected(queryFailed(**connection, "output devices"));
        }
        if (!(*connection)
                 ->waitFor(pa_context_get_sink_input_info_list(context, &onSinkInput, &query), timeout)) {
            return std::unexpected(queryFailed(**connection, "playing applications"));
        }
    }
    // The output device the user hears by default comes first, so "the first source" records
    // what is playing through the speakers; the others keep the server's order.
    std::stable_partition(
        query.content.displays.begin(), query.content.displays.end(),
        [&query](const OutputDevice& device) { return device.name == query.defaultSinkName; });
    return std::make_shared<const ShareableContent>(std::move(query.content));
}

std::expected<std::vector<CaptureDevice>, PlatformError> PulseCaptureService::microphones() {
    auto connection = PulseConnection::open(kClientName, timeout_);
    if (!connection) {
        return std::unexpected(connection.error());
    }
    Query query;
    query.connection = connection->get();
    PulseConnection::Lock lock(**connection);
    if (!(*connection)
             ->waitFor(pa_context_get_source_info_list((*connection)->context(), &onSource, &query),
                       timeout_)) {
        return std::unexpected(queryFailed(**connection, "microphones"));
    }
    return std::move(query.devices);
}

std::string PulseCaptureService::ownExecutableName() const {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return executable.filename().string();
}

std::unique_ptr<SystemAudioStream>
PulseCaptureService::makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                std::function<void(const PlatformError&)> didStopWithError) {
    return PulseSystemAudioStream::make(filter, configuration, std::move(didStopWithError), timeout_);
}

std::expected<std::unique_ptr<MicrophoneCapture>, PlatformError>
PulseCaptureService::makeMicrophoneCapture(const CaptureDevice& device) {
    auto capture = PulseMicrophoneCapture::create(device, timeout_);
    if (!capture) {
        return std::unexpected(capture.error());
    }
    return std::unique_ptr<MicrophoneCapture>(std::move(*capture));
}

} // namespace veltrane
