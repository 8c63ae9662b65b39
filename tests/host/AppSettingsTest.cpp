#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "common/Platform.h"
#include "common/Settings.h"
#include "server/host/AppSettings.h"
#include "tests/support/TempDir.h"

namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    void set(const char* name, const std::string& value) {
        ASSERT_TRUE(setCurrentUserRegString(kSettingsKey, name, value));
    }
    ScopedConfigHome home_;
};

}  // namespace

TEST_F(AppSettingsTest, DocDirDefaultsToDocumentsAndIsNotWrittenBack) {
    TempDir docs;
    setenv("XDG_DOCUMENTS_DIR", docs.path().c_str(), 1);
    EXPECT_EQ(getDocDir(), docs.path() + "/Sonavel");
    EXPECT_EQ(getFilesDir(), docs.path() + "/Sonavel/Files");
    EXPECT_FALSE(std::filesystem::exists(settingsFilePath(kSettingsKey)));

    set("DocDir", "");
    EXPECT_EQ(getDocDir(), docs.path() + "/Sonavel");
    unsetenv("XDG_DOCUMENTS_DIR");
    EXPECT_EQ(getDocDir(), getDocumentsDir() + "/Sonavel");
}

TEST_F(AppSettingsTest, DocDirIsTakenUnchanged) {
    set("DocDir", "/srv/school audio/");
    EXPECT_EQ(getDocDir(), "/srv/school audio/");
    EXPECT_EQ(getFilesDir(), "/srv/school audio//Files");
}

TEST_F(AppSettingsTest, PortsFallBackOnMissingZeroOrImpossibleValues) {
    struct Case {
        const char* stored;  // nullptr: value absent
        uint16_t httpPort, port;
    } cases[] = {
        {nullptr, 12380, 37891}, {"0", 12380, 37891},
        {"8080", 8080, 8080},    {"65535", 65535, 65535},
        {"65536", 12380, 37891}, {"-80", 12380, 37891},
        {"web", 12380, 37891},   {"1", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(absent)");
        std::filesystem::remove(settingsFilePath(kSettingsKey));
        if (c.stored) {
            set("HttpPort", c.stored);
            set("Port", c.stored);
        }
        EXPECT_EQ(getHttpPort(), c.httpPort);
        EXPECT_EQ(getPort(), c.port);
    }
}

TEST_F(AppSettingsTest, RequireLoginOnlyWhenOne) {
    EXPECT_FALSE(getRequireLogin());
    set("RequireLogin", "1");
    EXPECT_TRUE(getRequireLogin());
    set("RequireLogin", "2");
    EXPECT_FALSE(getRequireLogin());
}

TEST_F(AppSettingsTest, VersionIsTheProjectVersion) {
    EXPECT_EQ(getAppVersion(), "1.0.4");
}
