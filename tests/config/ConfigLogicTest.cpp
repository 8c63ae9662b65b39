#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <sstream>

#include "common/Settings.h"
#include "common/TextUtil.h"
#include "config/Addresses.h"
#include "config/AutoStart.h"
#include "config/ConfigDatabase.h"
#include "config/ConfigSettings.h"
#include "config/Language.h"
#include "config/LanguageFile.h"
#include "config/ServerControl.h"
#include "config/StartMode.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace {

// Runs sql on the file directly, as the server would have.
void exec(const std::string& dbPath, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
}

// Rows of account as "name|password|role|groups", NULL shown as "<null>".
std::vector<std::string> accounts(const std::string& dbPath) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    sqlite3_open(dbPath.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "select * from account order by userName", -1, &stmt, nullptr);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < 4; ++i) {
            const unsigned char* v = sqlite3_column_text(stmt, i);
            row += (i ? "|" : "") + (v ? std::string(reinterpret_cast<const char*>(v)) : "<null>");
        }
        rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

const char* kAccountTable =
    "create table IF NOT EXISTS account(userName text, password text, role text, groups text, "
    "UNIQUE(userName))";

}  // namespace

TEST(AddressesTest, FilterTable) {
    struct Case {
        const char* address;
        bool shown;
    } cases[] = {
        {"192.168.1.10", true}, {"10.0.169.5", true}, {"172.16.0.1", true},
        {"0.0.0.0", false},     {"127.0.0.1", false}, {"169.254.1.2", false},
        {"169.1.1.1", false},   {"127.0.0.2", true},  {"16.9.0.1", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isShownAddress(c.address), c.shown) << c.address;
    }
}

TEST(AddressesTest, JoinBreaksAfterThirdAndEveryOtherAddress) {
    using List = std::vector<std::string>;
    EXPECT_EQ(joinAddresses(List{}), "");
    EXPECT_EQ(joinAddresses(List{"A"}), "A");
    EXPECT_EQ(joinAddresses(List{"A", "B"}), "A;B");
    EXPECT_EQ(joinAddresses(List{"A", "B", "C"}), "A;B;C\n");
    EXPECT_EQ(joinAddresses(List{"A", "B", "C", "D"}), "A;B;C;\nD");
    EXPECT_EQ(joinAddresses(List{"A", "B", "C", "D", "E", "F"}), "A;B;C;\nD;E;\nF");
}

TEST(AddressesTest, LocalAddressesLeaveOutLoopbackAndLinkLocal) {
    for (const auto& address : getLocalAddresses()) {
        EXPECT_TRUE(isShownAddress(address)) << address;
        unsigned a, b, c, d;
        EXPECT_EQ(sscanf(address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d), 4) << address;
    }
}

TEST(ServerStatusTest, RunningWhenANameMatchesAfterLowerCasing) {
    struct Case {
        std::vector<ProcessInfo> processes;
        bool running;
    } cases[] = {
        {{}, false},
        {{{10, 0, "bash"}, {11, 1000, "sonavel"}}, true},
        {{{11, 1000, "Sonavel"}}, true},
        {{{11, 1000, "sonavel.exe"}}, false},
        {{{11, 1000, "sonavel2"}}, false},
        {{{11, 1000, "tervik-nginx"}}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isServerRunning(c.processes, "sonavel"), c.running)
            << (c.processes.empty() ? "" : c.processes.back().name);
    }
}

TEST(ServerStatusTest, StopsOnlyTheUsersProcessesOfThatName) {
    std::vector<ProcessInfo> processes = {
        {10, 1000, "sonavel"}, {11, 0, "sonavel"},     {12, 1000, "tervik-nginx"},
        {13, 1000, "SONAVEL"}, {14, 1000, "sonavelx"}, {15, 33, "tervik-nginx"},
    };
    EXPECT_EQ(processesToStop(processes, "sonavel", 1000), (std::vector<pid_t>{10, 13}));
    EXPECT_EQ(processesToStop(processes, "tervik-nginx", 1000), (std::vector<pid_t>{12}));
    EXPECT_TRUE(processesToStop(processes, "sonavel", 2000).empty());
}

TEST(AutoStartTest, EntryWrittenAndRemoved) {
    ScopedConfigHome home;
    EXPECT_EQ(autostartEntryPath(), home.path() + "/autostart/sonavel.desktop");
    EXPECT_FALSE(autostartEntryExists());

    ASSERT_TRUE(writeAutostartEntry("/opt/sonavel/SonavelConfig"));
    EXPECT_TRUE(autostartEntryExists());
    std::string text = readFile(autostartEntryPath());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/sonavel/SonavelConfig\" --start\n"), std::string::npos);

    ASSERT_TRUE(removeAutostartEntry());
    EXPECT_FALSE(autostartEntryExists());
    EXPECT_TRUE(removeAutostartEntry());  // nothing left to remove is still success
}

TEST(AutoStartTest, ReservedCharactersInThePathAreEscaped) {
    struct Case {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/opt/my apps/SonavelConfig", "Exec=\"/opt/my apps/SonavelConfig\" --start"},
        {"/opt/a\"b/SonavelConfig", "Exec=\"/opt/a\\\\\"b/SonavelConfig\" --start"},
        {"/opt/$x`y/SonavelConfig", "Exec=\"/opt/\\\\$x\\\\`y/SonavelConfig\" --start"},
        {"/opt/a\\b/SonavelConfig", "Exec=\"/opt/a\\\\\\\\b/SonavelConfig\" --start"},
        {"/opt/100%/SonavelConfig", "Exec=\"/opt/100%%/SonavelConfig\" --start"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(autostartEntryText(c.path).find(std::string("\n") + c.exec + "\n"),
                  std::string::npos)
            << autostartEntryText(c.path);
    }
}

class PasswordResetTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string db = dir.file("sonavel.db");
};

TEST_F(PasswordResetTest, ReplacesTheAdministratorRowWithTheDefaultDigest) {
    EXPECT_EQ(defaultAdminDigest(), "0f3d58864d5e607b8809696a25dd9bf1");
    exec(db, kAccountTable);
    exec(db, "insert into account values('admin', 'forgotten', 'admin', '')");
    exec(db, "insert into account values('teacher', 'abc', 'user', 'g1,')");

    ASSERT_TRUE(resetAdminPassword(db));
    EXPECT_EQ(accounts(db), (std::vector<std::string>{
                                "admin|0f3d58864d5e607b8809696a25dd9bf1|admin|<null>",
                                "teacher|abc|user|g1,",
                            }));
}

TEST_F(PasswordResetTest, FailsWithoutAccountTableOrDatabaseFolder) {
    exec(db, "create table settings(password text, extra_json_dict text)");
    EXPECT_FALSE(resetAdminPassword(db));
    EXPECT_FALSE(resetAdminPassword(dir.file("missing/sonavel.db")));
}

TEST_F(PasswordResetTest, WaitsOnALockedDatabaseThenFails) {
    exec(db, kAccountTable);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(resetAdminPassword(db, 200));
    ASSERT_EQ(sqlite3_exec(holder, "commit", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(holder);
    EXPECT_TRUE(resetAdminPassword(db, 200));
}

TEST_F(PasswordResetTest, SettingsTableCreatedOnceAndValuesAreBound) {
    EXPECT_TRUE(runSqlOnce(db, "create table settings(password text, extra_json_dict text)"));
    EXPECT_FALSE(runSqlOnce(db, "create table settings(password text, extra_json_dict text)"));
    // A quote in a value cannot end the statement early.
    EXPECT_TRUE(
        runSqlOnce(db, "insert into settings values(?, ?)", {"x'); drop table settings;--", "y"}));
    EXPECT_TRUE(runSqlOnce(db, "select * from settings"));
    EXPECT_FALSE(runSqlOnce(db, "not sql"));
}

TEST_F(PasswordResetTest, HeadlessResetUsesTheDocumentFolder) {
    ScopedConfigHome home;
    ASSERT_TRUE(setDocDir(dir.path()));
    ServerControl control(dir.path(), "nonexistent-sv");
    std::ostringstream out;
    loadedLanguage().clear();
    EXPECT_EQ(runHeadless(StartMode::ResetPassword, control, out), 1);
    EXPECT_EQ(out.str(), "密码重置失败\n");
    exec(db, kAccountTable);
    out.str("");
    EXPECT_EQ(runHeadless(StartMode::ResetPassword, control, out), 0);
    EXPECT_EQ(out.str(), "密码重置成功\n");
}

TEST(ConfigSettingsTest, DocDirDefaultsToDocumentsAndLanguageToSimplifiedChinese) {
    ScopedConfigHome home;
    TempDir docs;
    setenv("XDG_DOCUMENTS_DIR", docs.path().c_str(), 1);
    EXPECT_EQ(getDocDir(), docs.path() + "/Sonavel");
    EXPECT_EQ(storedLanguage(), "zh-CN");
    ASSERT_TRUE(setDocDir("/srv/bell"));
    EXPECT_EQ(getDocDir(), "/srv/bell");
    EXPECT_EQ(databasePath(getDocDir()), "/srv/bell/sonavel.db");
    ASSERT_TRUE(setDocDir(""));  // a cleared field means the default again
    EXPECT_EQ(getDocDir(), docs.path() + "/Sonavel");
    ASSERT_TRUE(setCurrentUserRegString(kToolSettingsKey, "language", "English"));
    EXPECT_EQ(storedLanguage(), "English");
    EXPECT_EQ(settingsFilePath(kToolSettingsKey),
              home.path() + "/TervikSoft/SonavelConfig/SET.conf");
    unsetenv("XDG_DOCUMENTS_DIR");
}

TEST(LanguageTest, SettingToFileNameTable) {
    struct Case {
        const char* setting;
        const char* tag;
        const char* file;
    } cases[] = {
        {"zh-CN", "zh-CN", "./language/SonavelConfig.zh-CN.xml"},
        {"ChineseTraditional", "zh-TW", "./language/SonavelConfig.zh-TW.xml"},
        {"English", "en-US", "./language/SonavelConfig.en-US.xml"},
        {"english", "english", "./language/SonavelConfig.english.xml"},
        {"chinesetraditional", "chinesetraditional",
         "./language/SonavelConfig.chinesetraditional.xml"},
        {"en-US", "en-US", "./language/SonavelConfig.en-US.xml"},
        {"zh_tw", "zh_tw", "./language/SonavelConfig.zh-TW.xml"},
        {"zh-Hant", "zh-Hant", "./language/SonavelConfig.zh-TW.xml"},
        {"zh-Hans", "zh-Hans", "./language/SonavelConfig.zh-CN.xml"},
        {"zh", "zh", "./language/SonavelConfig.zh-CN.xml"},
        {"en", "en", "./language/SonavelConfig.en-US.xml"},
        {"de-de", "de-de", "./language/SonavelConfig.de-DE.xml"},
    };
    for (const auto& c : cases) {
        std::string tag = mapLanguageTag(c.setting);
        EXPECT_EQ(tag, c.tag) << c.setting;
        EXPECT_EQ(languageFilePath(getCompatibleLanguageName(tag)), c.file) << c.setting;
    }
}

TEST(LanguageTest, SectionKeyIsTheDialogSourceName) {
    EXPECT_EQ(translationSectionKey(), "sonavelconfigdlg");
    struct Case {
        const char* path;
        const char* ext;
        const char* name;
    } cases[] = {
        {"SonavelConfigDlg.cpp", "", "SonavelConfigDlg"},
        {"src/config/SonavelConfigDlg.cpp", "", "SonavelConfigDlg"},
        {"C:\\src\\SonavelConfigDlg.cpp", "", "SonavelConfigDlg"},
        {"archive.tar.gz", "", "archive.tar"},
        {"notes", "xml", "notes.xml"},
        {"a/b.txt", ".xml", "b.xml"},
        {".hidden", "", ".hidden"},
        {"dir/", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(getFileName(c.path, c.ext), c.name) << c.path;
    }
}

TEST(LanguageTest, ShippedFilesTranslateEveryText) {
    const char* dialogTexts[] = {
        "配置程序", "设置",       "文件存储目录：", "更改目录需要重新运行服务器程序",
        "IP：",     "服务器",     "正在运行",       "运行",
        "停止",     "开机自启动", "重置密码"};
    const char* runTimeTexts[] = {"服务正在运行", "服务已停止",   "密码重置成功",
                                  "密码重置失败", "正在启动服务", "服务启动失败"};
    for (const char* tag : {"zh-CN", "zh-TW", "en-US"}) {
        std::string path = std::string(SONAVEL_LANGUAGE_DIR) + "/SonavelConfig." + tag + ".xml";
        ASSERT_TRUE(loadLanguage(path)) << path;
        const LanguageTable& table = loadedLanguage();
        for (const char* text : dialogTexts) {
            EXPECT_TRUE(table.contains(dialogSectionKey(102), text)) << tag << " " << text;
        }
        for (const char* text : runTimeTexts) {
            EXPECT_TRUE(table.contains(translationSectionKey(), text)) << tag << " " << text;
            std::string translated = translate(text, translationSectionKey());
            if (std::string(tag) == "zh-CN") {
                EXPECT_EQ(translated, text);
            } else {
                EXPECT_NE(translated, text) << tag << " " << text;
            }
        }
    }
    ASSERT_TRUE(loadLanguage(std::string(SONAVEL_LANGUAGE_DIR) + "/SonavelConfig.en-US.xml"));
    EXPECT_EQ(translate("服务正在运行", "sonavelconfigdlg"), "The service is running");
    EXPECT_EQ(loadedLanguage().lookup(dialogSectionKey(102), "运行"), "Run");
    EXPECT_EQ(translate("未知文本", "sonavelconfigdlg"), "未知文本");
    EXPECT_EQ(translate("服务正在运行", "othersection"), "服务正在运行");
    loadedLanguage().clear();
}

TEST(LanguageTest, MissingOrMalformedFileLeavesTextsUntranslated) {
    TempDir dir;
    ASSERT_TRUE(loadLanguage(std::string(SONAVEL_LANGUAGE_DIR) + "/SonavelConfig.en-US.xml"));
    EXPECT_FALSE(loadLanguage(dir.file("none.xml")));
    EXPECT_TRUE(loadedLanguage().empty());

    const char* broken[] = {
        "<language><section key=\"sonavelconfigdlg\"><text source=\"运行\">Run</section>",
        "<other/>",
        "",
    };
    for (const char* text : broken) {
        ASSERT_TRUE(loadLanguage(std::string(SONAVEL_LANGUAGE_DIR) + "/SonavelConfig.en-US.xml"));
        std::ofstream(dir.file("bad.xml"), std::ios::trunc) << text;
        EXPECT_FALSE(loadLanguage(dir.file("bad.xml"))) << text;
        EXPECT_EQ(translate("服务正在运行", "sonavelconfigdlg"), "服务正在运行") << text;
    }
}

TEST(StartModeTest, OptionTable) {
    struct Case {
        std::vector<const char*> args;
        StartMode mode;
    } cases[] = {
        {{"SonavelConfig"}, StartMode::Dialog},
        {{"SonavelConfig", "--start"}, StartMode::Start},
        {{"SonavelConfig", "-platform", "offscreen", "--start"}, StartMode::Start},
        {{"SonavelConfig", "--status"}, StartMode::Status},
        {{"SonavelConfig", "--stop"}, StartMode::Stop},
        {{"SonavelConfig", "--reset-password"}, StartMode::ResetPassword},
        {{"SonavelConfig", "--status", "--start"}, StartMode::Status},
        {{"SonavelConfig", "--started"}, StartMode::Dialog},
        {{"--start"}, StartMode::Dialog},  // the program name is no option
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseStartMode(static_cast<int>(c.args.size()), c.args.data()), c.mode)
            << c.args.back();
    }
}
