#include "config/ConfigSettings.h"

#include "common/Platform.h"
#include "common/Settings.h"

std::string getDocDir() {
    std::string dir = getCurrentUserRegString(kSettingsKey, "DocDir");
    return dir.empty() ? getDocumentsDir() + "/Sonavel" : dir;
}

bool setDocDir(const std::string& dir) {
    return setCurrentUserRegString(kSettingsKey, "DocDir", dir);
}

std::string databasePath(const std::string& docDir) {
    return docDir + "/sonavel.db";
}

std::string storedLanguage() {
    std::string tag = getCurrentUserRegString(kToolSettingsKey, "language");
    return tag.empty() ? "zh-CN" : tag;
}
