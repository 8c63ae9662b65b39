#pragma once
// open and close run on the thread that starts or stops the stream; pullPcm
// and every event run on the player's pacing thread.

#include <cstdint>
#include <string>
#include <vector>

#include "common/MyBuffer.h"
#include "server/audio/AacLdEncoder.h"
#include "server/audio/PacingClock.h"
#include "server/audio/PcmFileSource.h"
#include "server/audio/PcmPlayer.h"

enum class AudioEvent {
    EndOfFile = 0,  // the file is read to its end and the encoder flushed; no data
    Packet = 1,     // one encoded AAC-LD access unit
};

// data and length are valid only during the call. The callback must not close
// or release the AudioServer that raised it: that waits for the very thread
// the callback runs on.
using AudioEventFn = void (*)(AudioEvent event, const uint8_t* data, int length, void* user);

// One audio file turned into AAC-LD packets at playback pace: each block the
// player pulls is filled from the file, encoded at once, and every packet is
// handed to the owner's callback.
class AudioServer {
public:
    enum class Pacing {
        Player,  // the pacing thread pulls in real time
        Manual,  // no thread; the caller pulls as fast as it likes
    };

    AudioServer(AudioEventFn eventCallback, void* user, PacingClock& clock = monotonicClock());
    ~AudioServer();
    AudioServer(const AudioServer&) = delete;
    AudioServer& operator=(const AudioServer&) = delete;

    // Opens the file and the encoder and, with Pacing::Player, starts pulling.
    // Logs and returns false when the file has no playable audio.
    bool open(const std::string& path, Pacing pacing = Pacing::Player);
    // Stops the player, waiting for its thread, then releases the file and
    // the encoder.
    void close();
    bool isOpen() const { return source_.isOpen(); }

    // Fills block with the next length bytes of PCM and encodes it, raising
    // Packet for every access unit; at the end of the file flushes and raises
    // EndOfFile, and so does every later pull. Returns the encoded bytes.
    int pullPcm(uint8_t* block, int length);

    // Valid after a successful open: the AudioSpecificConfig (BA 11 00) and
    // the sample frames per packet (512).
    const std::vector<uint8_t>& audioSpecificConfig() const {
        return encoder_.audioSpecificConfig();
    }
    int frameLength() const { return encoder_.frameLength(); }
    const PcmPlayer& player() const { return player_; }

private:
    static int pullThunk(uint8_t* block, int length, void* self);
    // length 0 flushes the encoder.
    int encodePcm(const uint8_t* block, int length);
    void raise(AudioEvent event, const uint8_t* data, int length);

    AudioEventFn eventCallback_;
    void* user_;
    PcmFileSource source_;
    AacLdEncoder encoder_;
    // Converted PCM not yet pulled: at most the rest of one decoded packet.
    MyBuffer pcm_;
    bool endOfStream_ = false;
    // Last, so that it is stopped before anything it pulls from goes away.
    PcmPlayer player_;
};
