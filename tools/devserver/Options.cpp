#include "devserver/Options.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace veltrane::devserver {

namespace {

[[nodiscard]] std::expected<long long, std::string> number(const std::string& flag, const std::string& text,
                                                           long long lowest, long long highest) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < lowest || value > highest) {
        return std::unexpected(flag + " expects a whole number from " + std::to_string(lowest) + " to " +
                               std::to_string(highest) + ", not \"" + text + "\"");
    }
    return value;
}

} // namespace

std::string CommandLine::usage() {
    return "Usage: veltrane-devserver [options]\n"
           "  --port N                 port to listen on (0, the default, picks a free one)\n"
           "  --data DIR               where uploads are stored (default ./devserver-data)\n"
           "  --seed FILE              users, projects and meetings (default: built-in demo data)\n"
           "  --tls-cert FILE          serve HTTPS with this PEM certificate (needs --tls-key)\n"
           "  --tls-key FILE           the certificate's PEM private key\n"
           "  --fail-uploads PERCENT   fail this share of upload requests (0-100)\n"
           "  --fail-status CODE       status of a failed upload (default 500; 401 rejects the token)\n"
           "  --fail-close             fail uploads by closing the connection instead\n"
           "  --delay-ms N             delay every answer by N milliseconds\n"
           "  --expire-tokens-after N  a session token stops working after N authenticated requests\n"
           "  --seed-random N          seed of the draw that picks failed uploads (default 1)\n"
           "  --quiet                  do not print a line per request\n";
}

std::expected<Options, std::string> CommandLine::parse(const std::vector<std::string>& arguments) {
    Options options;
    options.dataDir = "devserver-data";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& flag = arguments[i];
        if (flag == "--help" || flag == "-h") {
            return std::unexpected(usage());
        }
        if (flag == "--fail-close") {
            options.faults.uploadFailureClosesConnection = true;
            continue;
        }
        if (flag == "--quiet") {
            options.logRequests = false;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            return std::unexpected(flag.starts_with("--") ? flag + " needs a value"
                                                          : "unknown argument " + flag);
        }
        const std::string& value = arguments[++i];
        auto integer = [&](long long lowest, long long highest) {
            return number(flag, value, lowest, highest);
        };
        std::expected<long long, std::string> parsed = 0;
        if (flag == "--port") {
            parsed = integer(0, 65535);
            options.port = static_cast<int>(parsed.value_or(0));
        } else if (flag == "--data") {
            options.dataDir = value;
        } else if (flag == "--seed") {
            options.seedFile = value;
        } else if (flag == "--tls-cert") {
            options.tlsCertFile = value;
        } else if (flag == "--tls-key") {
            options.tlsKeyFile = value;
        } else if (flag == "--fail-uploads") {
            parsed = integer(0, 100);
            options.faults.uploadFailurePercent = static_cast<int>(parsed.value_or(0));
        } else if (flag == "--fail-status") {
            parsed = integer(100, 599);
            options.faults.uploadFailureStatus = static_cast<int>(parsed.value_or(0));
        } else if (flag == "--delay-ms") {
            parsed = integer(0, 600000);
            options.faults.responseDelayMs = static_cast<int>(parsed.value_or(0));
        } else if (flag == "--expire-tokens-after") {
            parsed = integer(0, std::numeric_limits<int>::max());
            options.faults.tokenExpiresAfterRequests = static_cast<int>(parsed.value_or(0));
        } else if (flag == "--seed-random") {
            parsed = integer(0, std::numeric_limits<std::uint32_t>::max());
            options.faults.randomSeed = static_cast<std::uint32_t>(parsed.value_or(0));
        } else {
            return std::unexpected("unknown option " + flag);
        }
        if (!parsed) {
            return std::unexpected(parsed.error());
        }
    }
    if (options.tlsCertFile.has_value() != options.tlsKeyFile.has_value()) {
        return std::unexpected("--tls-cert and --tls-key go together");
    }
    return options;
}

} // namespace veltrane::devserver
