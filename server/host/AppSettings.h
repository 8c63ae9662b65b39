#pragma once
// The server's settings, read afresh on every call so that a change made by
// the configuration tool is seen at the next read. Any thread.

#include <cstdint>
#include <string>

inline constexpr const char* kSettingsKey = "TervikSoft\\Sonavel";
inline constexpr uint16_t kDefaultHttpPort = 12380;
inline constexpr uint16_t kDefaultPort = 37891;

// "DocDir", else the Documents folder + "/Sonavel".
std::string getDocDir();
std::string getFilesDir();
// "HttpPort"; 0 or missing gives 12380.
uint16_t getHttpPort();
// "Port" (message port); 0 or missing gives 37891.
uint16_t getPort();
// "RequireLogin" = 1 closes management commands to anonymous connections.
bool getRequireLogin();
std::string getAppVersion();
