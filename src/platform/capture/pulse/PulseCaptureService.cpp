#include "platform/capture/pulse/PulseCaptureService.h"

#include "platform/capture/pulse/PulseConnection.h"
#include "platform/capture/pulse/PulseMicrophoneCapture.h"
#include "platform/capture/pulse/PulseSystemAudioStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace veltrane {

std::uint32_t outputIDForSinkName(std::string_view sinkName) {
    constexpr std::uint32_t kOffsetBasis = 2166136261u;
    constexpr std::uint32_t kPrime = 16777619u;
    std::uint32_t hash = kOffsetBasis;
    for (const char c : sinkName) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= kPrime;
    }
    return hash == 0 ? 1u : hash;
}

namespace {

constexpr const char* kClientName = "VeltraneRecorder";

struct Query {
    PulseConnection* connection = nullptr;
    CaptureSources sources;
    std::vector<InputDevice> devices;
    std::string defaultSinkName;
    std::string defaultSourceName;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    if (info && info->default_sink_name) {
        query->defaultSinkName = info->default_sink_name;
    }
    if (info && info->default_source_name) {
        query->defaultSourceName = info->default_source_name;
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
        device.outputID = outputIDForSinkName(device.name);
        query->sources.outputs.push_back(std::move(device));
    }
    query->connection->signal();
}

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    if (eol == 0 && info) {
        const std::string pidText = propertyOrEmpty(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        std::int32_t pid = 0;
        const auto [end, ec] = std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
        auto& apps = query->sources.applications;
        const bool known = std::any_of(apps.begin(), apps.end(),
                                       [pid](const RunningApplication& app) { return app.processID == pid; });
        if (ec == std::errc() && pid > 0 && !known) {
            RunningApplication app;
            app.processID = pid;
            app.binaryName = propertyOrEmpty(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
            app.applicationName = propertyOrEmpty(info->proplist, PA_PROP_APPLICATION_NAME);
            if (app.applicationName.empty()) {
                app.applicationName = app.binaryName;
            }
            apps.push_back(std::move(app));
        }
    }
    query->connection->signal();
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    if (eol == 0 && info && info->monitor_of_sink == PA_INVALID_INDEX) {
        InputDevice device;
        device.name = info->name ? info->name : "";
        device.description = info->description ? info->description : device.name;
        query->devices.push_back(std::move(device));
    }
    query->connection->signal();
}

// A connection of its own that hears the server's announcements of devices, programs' playback
// streams and defaults.
class PulseSourceWatch final : public CaptureService::SourceWatch {
public:
    PulseSourceWatch(std::unique_ptr<PulseConnection> connection, std::function<void()> changed)
        : connection_(std::move(connection)), changed_(std::move(changed)) {
        PulseConnection::Lock lock(*connection_);
        connection_->setLostHandler([this](const PlatformError&) {
            lost_ = true;
            changed_();
        });
    }

    ~PulseSourceWatch() override {
        {
            PulseConnection::Lock lock(*connection_);
            connection_->detachHandlers();
        }
        connection_.reset();
    }

    [[nodiscard]] bool isLost() const override { return lost_; }
    PulseSourceWatch(const PulseSourceWatch&) = delete;
    PulseSourceWatch& operator=(const PulseSourceWatch&) = delete;

    [[nodiscard]] bool subscribe(std::chrono::milliseconds timeout) {
        PulseConnection::Lock lock(*connection_);
        pa_context* context = connection_->context();
        pa_context_set_subscribe_callback(
            context,
            [](pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* userdata) {
                const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
                const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
                // Programs' streams change all the time (volume, pauses); only their coming and
                // going counts.
                if (facility == PA_SUBSCRIPTION_EVENT_SERVER || kind != PA_SUBSCRIPTION_EVENT_CHANGE) {
                    static_cast<PulseSourceWatch*>(userdata)->changed_();
                }
            },
            this);
        const auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK_INPUT |
            PA_SUBSCRIPTION_MASK_SERVER);
        return connection_->waitFor(pa_context_subscribe(context, mask, nullptr, nullptr), timeout);
    }

private:
    std::unique_ptr<PulseConnection> connection_;
    const std::function<void()> changed_;
    std::atomic<bool> lost_ = false;
};

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

void PulseCaptureService::requestSources(SourcesCompletion completion) {
    worker_.post(
        [timeout = timeout_, completion = std::move(completion)] { completion(listSources(timeout)); });
}

std::expected<CaptureSourcesPtr, PlatformError>
PulseCaptureService::listSources(std::chrono::milliseconds timeout) {
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
    auto& outputs = query.sources.outputs;
    std::stable_partition(outputs.begin(), outputs.end(), [&query](const OutputDevice& device) {
        return device.name == query.defaultSinkName;
    });
    // Before them all, the default output as such: recording it follows the default wherever it moves.
    if (!outputs.empty() && outputs.front().name == query.defaultSinkName) {
        OutputDevice followed;
        followed.name = kDefaultOutputDeviceName;
        followed.description = outputs.front().description;
        followed.outputID = outputIDForSinkName(followed.name);
        outputs.insert(outputs.begin(), std::move(followed));
    }
    return std::make_shared<const CaptureSources>(std::move(query.sources));
}

std::expected<std::vector<InputDevice>, PlatformError> PulseCaptureService::microphones() {
    auto connection = PulseConnection::open(kClientName, timeout_);
    if (!connection) {
        return std::unexpected(connection.error());
    }
    Query query;
    query.connection = connection->get();
    PulseConnection::Lock lock(**connection);
    pa_context* context = (*connection)->context();
    if (!(*connection)->waitFor(pa_context_get_server_info(context, &onServerInfo, &query), timeout_) ||
        !(*connection)->waitFor(pa_context_get_source_info_list(context, &onSource, &query), timeout_)) {
        return std::unexpected(queryFailed(**connection, "microphones"));
    }
    // The default input first, followed when the default changes, as long as it is a microphone.
    const auto current =
        std::find_if(query.devices.begin(), query.devices.end(),
                     [&query](const InputDevice& d) { return d.name == query.defaultSourceName; });
    if (current != query.devices.end()) {
        InputDevice followed;
        followed.name = kDefaultInputDeviceName;
        followed.description = "Default microphone (" + current->description + ")";
        query.devices.insert(query.devices.begin(), std::move(followed));
    }
    return std::move(query.devices);
}

std::unique_ptr<CaptureService::SourceWatch>
PulseCaptureService::watchSources(std::function<void()> changed) {
    auto connection = PulseConnection::open(kClientName, timeout_);
    if (!connection) {
        return nullptr;
    }
    auto watch = std::make_unique<PulseSourceWatch>(std::move(*connection), std::move(changed));
    if (!watch->subscribe(timeout_)) {
        return nullptr;
    }
    return watch;
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
PulseCaptureService::makeStream(const CaptureTarget& target, const StreamSettings& settings,
                                std::function<void(const PlatformError&)> didStopWithError) {
    return PulseSystemAudioStream::make(target, settings, std::move(didStopWithError), timeout_);
}

std::expected<std::unique_ptr<MicrophoneCapture>, PlatformError>
PulseCaptureService::makeMicrophoneCapture(const InputDevice& device) {
    auto capture = PulseMicrophoneCapture::create(device, timeout_);
    if (!capture) {
        return std::unexpected(capture.error());
    }
    return std::unique_ptr<MicrophoneCapture>(std::move(*capture));
}

} // namespace veltrane
