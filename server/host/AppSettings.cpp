#include "server/host/AppSettings.h"

#include "common/Platform.h"
#include "common/Settings.h"

namespace {

uint16_t portSetting(const char* name, uint16_t fallback) {
    int value = getCurrentUserRegInt(kSettingsKey, name);
    // Out-of-range numbers cannot be ports; treat them like a missing value.
    return value > 0 && value <= 65535 ? static_cast<uint16_t>(value) : fallback;
}

}  // namespace

std::string getDocDir() {
    std::string dir = getCurrentUserRegString(kSettingsKey, "DocDir");
    return dir.empty() ? getDocumentsDir() + "/Sonavel" : dir;
}

std::string getFilesDir() {
    return getDocDir() + "/Files";
}

uint16_t getHttpPort() {
    return portSetting("HttpPort", kDefaultHttpPort);
}

uint16_t getPort() {
    return portSetting("Port", kDefaultPort);
}

bool getRequireLogin() {
    return getCurrentUserRegInt(kSettingsKey, "RequireLogin") == 1;
}

std::string getAppVersion() {
    return SONAVEL_VERSION;
}
