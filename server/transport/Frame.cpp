#include "server/transport/Frame.h"

#include <cstring>
#include <exception>
#include <utility>

#include "common/Logger.h"

namespace {

void putU32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t getU32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

// Compact text without spaces; text values keep their bytes as they are
// (the plain compact writer of this JSON library would escape non-ASCII).
std::string compactJson(const Json::Value& value) {
    static const Json::StreamWriterBuilder builder = [] {
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        b["emitUTF8"] = true;
        return b;
    }();
    return Json::writeString(builder, value) + "\n";
}

}  // namespace

FramePtr buildFrame(const std::string& cmd, const Json::Value& msg, const std::string& src,
                    const uint8_t* binary, int32_t length) {
    if (length < 0 || (length > 0 && binary == nullptr)) {
        gLogger().logout("frame not built: %s: binary length %d", cmd.c_str(), length);
        return nullptr;
    }
    Json::Value root(Json::objectValue);
    root["cmd"] = cmd;
    root["msg"] = msg;
    root["src"] = src;
    const std::string text = compactJson(root);
    const uint64_t total = uint64_t{text.size()} + static_cast<uint64_t>(length) + 4;
    if (total > kMaxFrameLength) {
        gLogger().logout("frame not built: %s: %llu bytes exceed the frame limit", cmd.c_str(),
                         static_cast<unsigned long long>(total));
        return nullptr;
    }
    auto frame = std::make_shared<MyBuffer>(static_cast<size_t>(total) + 4, nullptr);
    uint8_t header[8];
    putU32(header, static_cast<uint32_t>(total));
    putU32(header + 4, static_cast<uint32_t>(text.size()));
    frame->appendBuffer(header, sizeof header);
    frame->appendBuffer(text.data(), text.size());
    frame->appendBuffer(binary, static_cast<size_t>(length));
    return frame;
}

bool parseStrictJson(const char* begin, const char* end, Json::Value& root) {
    // One reader per thread: readers keep state between calls.
    thread_local const std::unique_ptr<Json::CharReader> reader = [] {
        Json::CharReaderBuilder b;
        Json::CharReaderBuilder::strictMode(&b.settings_);
        return std::unique_ptr<Json::CharReader>(b.newCharReader());
    }();
    try {
        return reader->parse(begin, end, &root, nullptr);
    } catch (const std::exception&) {
        // The reader throws instead of failing on some inputs (nesting too deep).
        return false;
    }
}

int32_t cutFrame(const uint8_t* data, size_t size, ParsedFrame& out) {
    if (size < 4) {
        return 0;
    }
    const uint32_t n = getU32(data);
    if (n == 0) {
        out = ParsedFrame{};
        out.empty = true;
        return 4;
    }
    if (size < 8) {
        return 0;
    }
    if (n < 4 || n > kMaxFrameLength) {
        return -1;
    }
    const auto j = static_cast<int32_t>(getU32(data + 4));
    if (j < 0 || static_cast<uint32_t>(j) > n - 4) {
        return -1;
    }
    if (size - 4 < n) {
        return 0;
    }
    const char* text = reinterpret_cast<const char*>(data + 8);
    Json::Value root;
    if (!parseStrictJson(text, text + j, root) || !root.isObject()) {
        return -1;
    }
    const Json::Value& cmd = std::as_const(root)["cmd"];
    if (!cmd.isString() && !cmd.isNull()) {
        return -1;
    }
    out.empty = false;
    out.cmd = cmd.isString() ? cmd.asString() : std::string();
    out.msg = Json::Value();
    root.removeMember("msg", &out.msg);
    out.binary = data + 8 + j;
    out.length = static_cast<int32_t>(n - 4 - static_cast<uint32_t>(j));
    return static_cast<int32_t>(n + 4);
}
