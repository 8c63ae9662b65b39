#pragma once
// The command line of sonavel-endpoint. Main thread.

#include <cstdint>
#include <string>

struct EndpointOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 37891;
    std::string devId;    // default: the host name
    std::string devName;  // default: the device id
    enum class Output { Alsa, Wav, Null } output = Output::Alsa;
    std::string alsaDevice = "default";
    std::string wavPath;
    std::string onShutdown;  // shell command run at a "shutdown" schedule
    int prebufferMs = 200;
    int heartbeatTimeoutMs = 5000;
    int retryFirstMs = 500;
    int retryMaxMs = 8000;
    bool help = false;
};

// Fills options from argv; false with error set on a bad command line.
bool parseEndpointOptions(int argc, char** argv, EndpointOptions& options, std::string& error);
std::string endpointUsage();
