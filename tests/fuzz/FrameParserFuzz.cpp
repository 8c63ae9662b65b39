// Feeds arbitrary bytes to the frame cutter the way a connection does, and
// checks what must hold for any input: frames are cut only when complete,
// never beyond the bytes given, and a cut frame survives re-encoding.

#include <cstddef>
#include <cstdint>

#include "server/transport/Frame.h"

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void checkRoundTrip(const ParsedFrame& frame) {
    FramePtr rebuilt = buildFrame(frame.cmd, frame.msg, "src", frame.binary, frame.length);
    if (!rebuilt) {
        return;  // escaping made it longer than any frame may be
    }
    ParsedFrame again;
    require(cutFrame(rebuilt->getBuffer(), rebuilt->getLen(), again) ==
            static_cast<int32_t>(rebuilt->getLen()));
    require(again.cmd == frame.cmd);
    require(again.msg == frame.msg);
    require(again.length == frame.length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    for (;;) {
        ParsedFrame frame;
        const int32_t used = cutFrame(data + at, size - at, frame);
        if (used <= 0) {
            return 0;
        }
        require(static_cast<size_t>(used) <= size - at);
        // One byte less is never enough.
        ParsedFrame partial;
        require(cutFrame(data + at, static_cast<size_t>(used) - 1, partial) == 0);
        if (!frame.empty) {
            require(frame.length >= 0);
            require(frame.binary + frame.length == data + at + used);
            checkRoundTrip(frame);
        }
        at += static_cast<size_t>(used);
    }
}
