#include "tests/audio/TestMedia.h"

#include <cstdlib>

std::string makeMedia(const TempDir& dir, const std::string& name, const std::string& inputArgs) {
    const std::string path = dir.file(name);
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + inputArgs + " '" + path + "'";
    return std::system(command.c_str()) == 0 ? path : std::string();
}
