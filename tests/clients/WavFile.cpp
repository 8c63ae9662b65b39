#include "tests/clients/WavFile.h"

#include <cstdint>
#include <cstring>

#include "tests/clients/ChildProcess.h"

namespace {

uint32_t u32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

uint16_t u16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1])
                                                                   << 8);
}

}  // namespace

bool readWav(const std::string& path, WavAudio& out) {
    const std::string b = readFile(path);
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) {
        return false;
    }
    int bits = 0;
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id = b.substr(at, 4);
        const size_t size = u32(b, at + 4);
        const size_t body = at + 8;
        if (id == "fmt " && body + 16 <= b.size()) {
            out.channels = u16(b, body + 2);
            out.rate = static_cast<int>(u32(b, body + 4));
            bits = u16(b, body + 14);
        } else if (id == "data") {
            if (bits != 16 || out.channels < 1 || out.channels > 2) {
                return false;
            }
            const size_t bytes = std::min(size, b.size() - body);
            const size_t frames = bytes / (2 * static_cast<size_t>(out.channels));
            for (size_t i = 0; i < frames; ++i) {
                int16_t l;
                int16_t r;
                std::memcpy(&l, b.data() + body + i * 2 * out.channels, 2);
                std::memcpy(&r, b.data() + body + i * 2 * out.channels + (out.channels - 1) * 2, 2);
                out.left.push_back(l / 32768.0f);
                out.right.push_back(r / 32768.0f);
            }
            return true;
        }
        at = body + size + (size & 1);
    }
    return false;
}
