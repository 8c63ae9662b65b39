#include "clients/endpoint/EndpointOptions.h"

#include <unistd.h>

#include <charconv>

namespace {

bool toInt(const std::string& text, long lo, long hi, long& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= lo && value <= hi;
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "sonavel-endpoint";
    }
    return name;
}

}  // namespace

std::string endpointUsage() {
    return "usage: sonavel-endpoint [options]\n"
           "Connects to a Sonavel server, registers, logs in as an endpoint and plays\n"
           "the audio schedules sent to it.\n"
           "\n"
           "  --host H            server address (default 127.0.0.1)\n"
           "  --port P            server message port (default 37891)\n"
           "  --id ID             device id (default: this machine's host name)\n"
           "  --name NAME         device name shown to managers (default: the id)\n"
           "  --alsa-device DEV   play through this ALSA device (default \"default\")\n"
           "  --wav FILE          write what is played into a WAV file instead\n"
           "  --null              play into nothing (tests, load runs)\n"
           "  --on-shutdown CMD   shell command to run on a \"shutdown\" schedule\n"
           "                      (default: none, the order is only logged)\n"
           "  --prebuffer-ms N    audio held back before playing starts (default 200)\n"
           "  --heartbeat-timeout-ms N  silence after which the server counts as gone\n"
           "                      (default 5000)\n"
           "  --retry-ms N        first reconnection delay, doubled up to --retry-max-ms\n"
           "                      (default 500)\n"
           "  --retry-max-ms N    longest reconnection delay (default 8000)\n"
           "  --help              this text\n";
}

bool parseEndpointOptions(int argc, char** argv, EndpointOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto number = [&](long lo, long hi, long& out) {
            std::string text;
            if (!value(text)) {
                return false;
            }
            if (!toInt(text, lo, hi, out)) {
                error = arg + ": not a number from " + std::to_string(lo) + " to " +
                        std::to_string(hi) + ": " + text;
                return false;
            }
            return true;
        };
        long n = 0;
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--host") {
            ok = value(o.host);
        } else if (arg == "--port") {
            ok = number(1, 65535, n);
            o.port = static_cast<uint16_t>(n);
        } else if (arg == "--id") {
            ok = value(o.devId);
        } else if (arg == "--name") {
            ok = value(o.devName);
        } else if (arg == "--alsa-device") {
            ok = value(o.alsaDevice);
            o.output = EndpointOptions::Output::Alsa;
        } else if (arg == "--wav") {
            ok = value(o.wavPath);
            o.output = EndpointOptions::Output::Wav;
        } else if (arg == "--null") {
            o.output = EndpointOptions::Output::Null;
        } else if (arg == "--on-shutdown") {
            ok = value(o.onShutdown);
        } else if (arg == "--prebuffer-ms") {
            ok = number(20, 5000, n);
            o.prebufferMs = static_cast<int>(n);
        } else if (arg == "--heartbeat-timeout-ms") {
            ok = number(1000, 600000, n);
            o.heartbeatTimeoutMs = static_cast<int>(n);
        } else if (arg == "--retry-ms") {
            ok = number(10, 600000, n);
            o.retryFirstMs = static_cast<int>(n);
        } else if (arg == "--retry-max-ms") {
            ok = number(10, 600000, n);
            o.retryMaxMs = static_cast<int>(n);
        } else {
            error = "unknown option: " + arg;
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    if (o.devId.empty()) {
        o.devId = hostName();
    }
    if (o.devName.empty()) {
        o.devName = o.devId;
    }
    return true;
}
