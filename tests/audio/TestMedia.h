#pragma once
// Small media files made with the ffmpeg command-line tool for the audio tests.

#include <string>

#include "tests/support/TempDir.h"

// Runs ffmpeg with inputArgs and writes dir/name; returns its path, or empty
// text when ffmpeg failed.
std::string makeMedia(const TempDir& dir, const std::string& name, const std::string& inputArgs);
