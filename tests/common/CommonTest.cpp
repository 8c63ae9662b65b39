#include <gtest/gtest.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>

#include <fstream>
#include <thread>

#include "common/Md5.h"
#include "common/MyBuffer.h"
#include "common/Platform.h"
#include "common/Settings.h"
#include "common/TextUtil.h"
#include "tests/support/TempDir.h"

TEST(MyBufferTest, AppendEraseTakeKeepOrder) {
    MyBuffer buf(8, nullptr);
    buf.appendBuffer("abcdef", 6);
    buf.eraseData(2);
    buf.appendBuffer("gh", 2);
    ASSERT_EQ(buf.getLen(), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.getBuffer()), buf.getLen()), "cdefgh");
    char out[10] = {};
    EXPECT_EQ(buf.takeData(out, 4), 4u);
    EXPECT_STREQ(out, "cdef");
    EXPECT_EQ(buf.takeData(out, 10), 2u);
    EXPECT_EQ(buf.getLen(), 0u);
    buf.eraseData(5);  // more than held: just empty
    EXPECT_EQ(buf.getLen(), 0u);
}

TEST(MyBufferTest, ScratchAreaDoesNotDisturbHeldBytes) {
    MyBuffer buf;
    buf.appendBuffer("xyz", 3);
    uint8_t* scratch = buf.getBuffer(1000);
    std::fill(scratch, scratch + 1000, 0xAA);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.getBuffer()), buf.getLen()), "xyz");
    buf.resetBuffer();
    EXPECT_EQ(buf.getLen(), 0u);
}

TEST(TextUtilTest, SplitTable) {
    struct Case {
        std::string text, sep;
        std::vector<std::string> pieces;
    } cases[] = {
        {"g1,g2,", ",", {"g1", "g2"}},
        {"g1", ",", {"g1"}},
        {"", ",", {}},
        {",", ",", {}},
        {"a,,b", ",", {"a", "b"}},
        {"AB-CD-123", "-", {"AB", "CD", "123"}},
        {"a::b::", "::", {"a", "b"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out;
        EXPECT_EQ(strSplit(c.text, c.sep, out), c.pieces) << c.text;
    }
}

TEST(TextUtilTest, ReplaceChangesArgumentInPlace) {
    std::string text = "root $DOCROOT; listen $SRVPORT; alias $DOCROOT;";
    strReplace(text, "$DOCROOT", "/srv/files");
    strReplace(text, "$SRVPORT", "12380");
    EXPECT_EQ(text, "root /srv/files; listen 12380; alias /srv/files;");
    std::string self = "aa";
    strReplace(self, "a", "aa");  // replacement containing the pattern must not loop
    EXPECT_EQ(self, "aaaa");
}

TEST(TextUtilTest, Utf8RoundTripAndBadBytes) {
    std::string text = "校园广播 \xF0\x9F\x94\x8A ok";
    EXPECT_EQ(wstr2str(str2wstr(text)), text);
    EXPECT_EQ(str2wstr("\xE6\xA0").size(), 2u);  // truncated sequence: replacement per byte
}

TEST(TextUtilTest, Ip2StringFirstStoredByteFirst) {
    uint8_t bytes[4] = {192, 168, 1, 20};
    uint32_t stored;
    std::memcpy(&stored, bytes, 4);
    EXPECT_EQ(ip2string(stored), "192.168.1.20");
}

TEST(Md5Test, BlockAndFileForms) {
    EXPECT_EQ(getMd5("907580", 6), "0F3D58864D5E607B8809696A25DD9BF1");
    EXPECT_EQ(getMd5("", 0), "D41D8CD98F00B204E9800998ECF8427E");

    TempDir dir;
    std::ofstream(dir.file("f.bin"), std::ios::binary) << "0123456789";
    std::string out;
    ASSERT_TRUE(getMd5(dir.file("f.bin"), out));
    EXPECT_EQ(out, getMd5("0123456789", 10));
    ASSERT_TRUE(getMd5(dir.file("f.bin"), out, 2, 3));
    EXPECT_EQ(out, getMd5("234", 3));
    ASSERT_TRUE(getMd5(dir.file("f.bin"), out, 8, 100));  // range past the end
    EXPECT_EQ(out, getMd5("89", 2));
    EXPECT_FALSE(getMd5(dir.file("missing"), out));
}

TEST(SettingsTest, ReadWriteAndDefaults) {
    ScopedConfigHome home;
    const std::string key = "TervikSoft\\Sonavel";
    EXPECT_EQ(getCurrentUserRegString(key, "DocDir"), "");
    EXPECT_EQ(getCurrentUserRegInt(key, "HttpPort"), 0);
    EXPECT_EQ(settingsFilePath(key), home.path() + "/TervikSoft/Sonavel.conf");

    ASSERT_TRUE(setCurrentUserRegString(key, "DocDir", "/srv/a=b"));
    ASSERT_TRUE(setCurrentUserRegString(key, "HttpPort", "8080"));
    ASSERT_TRUE(setCurrentUserRegString(key, "DocDir", "/srv/new"));
    EXPECT_EQ(getCurrentUserRegString(key, "DocDir"), "/srv/new");
    EXPECT_EQ(getCurrentUserRegInt(key, "HttpPort"), 8080);
    EXPECT_FALSE(setCurrentUserRegString(key, "Bad", "two\nlines"));
}

TEST(SettingsTest, CommentsAndSectionsAreIgnoredAndKept) {
    ScopedConfigHome home;
    const std::string key = "TervikSoft\\SonavelConfig\\SET";
    std::filesystem::create_directories(home.path() + "/TervikSoft/SonavelConfig");
    std::ofstream(settingsFilePath(key)) << "# note\n[section]\n;language=xx\nlanguage=en-US\n";
    EXPECT_EQ(getCurrentUserRegString(key, "language"), "en-US");
    ASSERT_TRUE(setCurrentUserRegString(key, "language", "zh-CN"));
    std::ifstream in(settingsFilePath(key));
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(all, "# note\n[section]\n;language=xx\nlanguage=zh-CN\n");
}

TEST(PlatformTest, ClockFilesAndProcesses) {
    int64_t t0 = gettime2();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(gettime2() - t0, 19);

    TempDir dir;
    EXPECT_EQ(getFileType(dir.path()), -1);  // a folder is not an ordinary file
    std::ofstream(dir.file("x")) << "x";
    EXPECT_EQ(getFileType(dir.file("x")), 0);
    EXPECT_FALSE(getAppDir().empty());

    bool foundSelf = false;
    for (const auto& p : listProcesses()) {
        foundSelf = foundSelf || p.pid == getpid();
    }
    EXPECT_TRUE(foundSelf);
}

TEST(PlatformTest, DocumentsFolderFromUserDirs) {
    ScopedConfigHome home;
    unsetenv("XDG_DOCUMENTS_DIR");
    std::ofstream(home.path() + "/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"/data/docs\"\n";
    EXPECT_EQ(getDocumentsDir(), "/data/docs");
}
