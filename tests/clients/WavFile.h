#pragma once
// Reads the 16-bit PCM WAV files of the audio tests into float samples.

#include <string>
#include <vector>

struct WavAudio {
    int rate = 0;
    int channels = 0;
    std::vector<float> left;   // -1 .. 1
    std::vector<float> right;  // the left channel again for mono files
};

// False when the file is missing or not 16-bit PCM WAV.
bool readWav(const std::string& path, WavAudio& out);
