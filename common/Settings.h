#pragma once
// Per-user settings in place of a registry: the key path "A\B" is the file
// $XDG_CONFIG_HOME/A/B.conf, one Name=Value per line. Missing reads as empty
// text or 0. Writes replace the whole file atomically.

#include <string>

// The file that holds a key path's values.
std::string settingsFilePath(const std::string& keyPath);

std::string getCurrentUserRegString(const std::string& keyPath, const std::string& name);
int getCurrentUserRegInt(const std::string& keyPath, const std::string& name);
bool setCurrentUserRegString(const std::string& keyPath, const std::string& name,
                             const std::string& value);
