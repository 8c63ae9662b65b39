#pragma once
// Decodes the server's packets with FFmpeg's own AAC decoder, the way an
// endpoint would: AudioSpecificConfig as extradata, rate and layout by hand.

#include <cstdint>
#include <vector>

struct DecodedPcm {
    std::vector<float> left;
    std::vector<float> right;
};

// False when the decoder cannot be set up or rejects a packet.
bool decodeAac(const std::vector<uint8_t>& audioSpecificConfig,
               const std::vector<std::vector<uint8_t>>& packets, DecodedPcm& out);
