#pragma once
// The frame format: a length-prefixed JSON object plus an opaque binary tail.
// Encoding and cutting are pure functions, callable from any thread.
//
//   N (u32 LE) | J (i32 LE) | J bytes of JSON text | N - J - 4 bytes of binary
//
// N counts everything after its own field; N = 0 is an empty frame.

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/MyBuffer.h"

// The "src" of every message the server makes itself.
inline constexpr char kServerId[] = "00000000-0000-0000-0000-000000000000";

// Largest N a frame may declare (16 MiB - 1).
inline constexpr uint32_t kMaxFrameLength = 0xFFFFFF;

// A built frame is never changed, so one buffer may sit in many send queues.
using FramePtr = std::shared_ptr<const MyBuffer>;

// Encodes {"cmd","msg","src"} as compact JSON with one trailing line feed,
// followed by length bytes of binary (binary may be null when length is 0).
// Returns null, with a log line, when the frame would exceed kMaxFrameLength
// or the binary arguments are inconsistent: no peer could accept it.
FramePtr buildFrame(const std::string& cmd, const Json::Value& msg, const std::string& src,
                    const uint8_t* binary, int32_t length);

// One frame cut from a byte stream.
struct ParsedFrame {
    bool empty = false;               // N = 0: consumed, nothing to hand on
    std::string cmd;                  // "cmd" as text; missing or null gives ""
    Json::Value msg;                  // "msg"; missing gives null
    const uint8_t* binary = nullptr;  // points into the input bytes
    int32_t length = 0;
};

// Cuts the first frame from data[0, size). Returns the bytes it occupies
// (> 0), 0 when more bytes are needed, or -1 when the stream is malformed:
// a declared length out of range, J negative or above N - 4, JSON that does
// not parse strictly, a root that is not an object, or a "cmd" that is not
// text or null. Header faults are reported as soon as 8 bytes are there;
// nothing is allocated before the declared lengths have been checked.
int32_t cutFrame(const uint8_t* data, size_t size, ParsedFrame& out);

// Parses text as JSON in strict mode (no comments, object or array root,
// nothing after the root). Returns false on any parse error.
bool parseStrictJson(const char* begin, const char* end, Json::Value& root);
