#include "clients/endpoint/WavSink.h"

#include <cerrno>
#include <cstring>

namespace {

void putU32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void putU16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

// The sizes of a RIFF file are 32-bit; a recording stops growing at the limit.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFu - 36;

}  // namespace

WavSink::~WavSink() {
    if (file_) {
        std::fclose(file_);
    }
}

bool WavSink::open(std::string& error) {
    file_ = std::fopen(path_.c_str(), "wb");
    if (!file_ || !writeHeader()) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool WavSink::writeHeader() {
    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    putU32(h + 4, static_cast<uint32_t>(36 + dataBytes_));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    putU32(h + 16, 16);
    putU16(h + 20, 1);
    putU16(h + 22, 2);
    putU32(h + 24, 44100);
    putU32(h + 28, 44100 * 4);
    putU16(h + 32, 4);
    putU16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    putU32(h + 40, static_cast<uint32_t>(dataBytes_));
    return std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(h, sizeof h, 1, file_) == 1 &&
           std::fseek(file_, 0, SEEK_END) == 0;
}

bool WavSink::write(const int16_t* interleaved, size_t frames) {
    const uint64_t bytes = frames * 4;
    if (!file_ || dataBytes_ + bytes > kMaxDataBytes) {
        return false;
    }
    // The file is little-endian, as is this machine.
    if (std::fwrite(interleaved, 4, frames, file_) != frames) {
        return false;
    }
    dataBytes_ += bytes;
    return writeHeader() && std::fflush(file_) == 0;
}
