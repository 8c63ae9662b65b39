#pragma once
// One frame as a client receives it; owns its bytes.

#include <json/json.h>

#include <cstdint>
#include <string>
#include <vector>

struct ClientMessage {
    std::string cmd;
    Json::Value msg;
    std::string src;
    std::vector<uint8_t> binary;
    // Microseconds of the monotonic clock when the frame's last byte was read
    // (see ClientConnection::useKernelArrivalTimes for the other clock).
    int64_t arrivalUs = 0;
};
