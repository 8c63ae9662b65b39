#include "server/core/UploadKey.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "common/Md5.h"
#include "server/core/FileContext.h"
#include "tests/support/TempDir.h"

namespace {

std::string writeFile(const TempDir& dir, const std::string& name, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + i / 7919) & 0xFF);
    }
    std::string path = dir.file(name);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

TEST(UploadKeyTest, FrontBackKeyUpperCasesDigestsAndPrintsSize) {
    EXPECT_EQ(frontBackKey("abcdef0123", "ffee", 42), "ABCDEF0123-FFEE-42");
    EXPECT_EQ(frontBackKey("ABC", "Def", 0), "ABC-DEF-0");
    EXPECT_EQ(frontBackKey("a", "b", 9007199254740993LL), "A-B-9007199254740993");
}

// Sizes around the range length: below, exactly at and above it.
TEST(UploadKeyTest, FrontBackCheckAtRangeBoundaries) {
    TempDir dir;
    const size_t sizes[] = {0, 1000, static_cast<size_t>(kUploadRange),
                            static_cast<size_t>(kUploadRange) + 4097};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        std::string path = writeFile(dir, "f.bin", size);
        std::string front;
        std::string back;
        ASSERT_TRUE(getMd5(path, front, 0, kUploadRange));
        ASSERT_TRUE(getMd5(path, back, backRangeOffset(static_cast<int64_t>(size)), kUploadRange));
        if (size <= static_cast<size_t>(kUploadRange)) {
            EXPECT_EQ(backRangeOffset(static_cast<int64_t>(size)), 0);
            EXPECT_EQ(front, back);
        } else {
            EXPECT_EQ(backRangeOffset(static_cast<int64_t>(size)), 4097);
            EXPECT_NE(front, back);
        }
        const int64_t n = static_cast<int64_t>(size);
        // The client may send lower-case digests; the key is upper-cased.
        EXPECT_TRUE(verifyUploadKey(frontBackKey(lower(front), lower(back), n), path));
        EXPECT_FALSE(verifyUploadKey(frontBackKey(front, back, n + 1), path));
        EXPECT_FALSE(verifyUploadKey(frontBackKey(back + "0", back, n), path));
        EXPECT_FALSE(verifyUploadKey(frontBackKey(front, front + "0", n), path));
    }
}

TEST(UploadKeyTest, WholeFileKeyAndMalformedKeys) {
    TempDir dir;
    std::string path = writeFile(dir, "w.bin", 5000);
    std::string whole;
    ASSERT_TRUE(getMd5(path, whole));
    EXPECT_TRUE(verifyUploadKey(whole, path));
    // The whole-file key is compared as sent: lower-case digits fail.
    EXPECT_FALSE(verifyUploadKey(lower(whole), path));
    EXPECT_FALSE(verifyUploadKey(whole, dir.file("missing.bin")));

    std::string front;
    ASSERT_TRUE(getMd5(path, front, 0, kUploadRange));
    const std::string bad[] = {
        "",                                             // no piece
        front + "-" + front,                            // two pieces
        front + "-" + front + "-5000-1",                // four pieces
        front + "-" + front + "-50x0",                  // size not a number
        front + "-" + front + "-99999999999999999999",  // size out of range
        front + "-" + front + "- 5000",
    };
    for (const auto& key : bad) {
        EXPECT_FALSE(verifyUploadKey(key, path)) << key;
    }
    EXPECT_TRUE(verifyUploadKey(front + "-" + front + "-5000", path));
}

TEST(UploadKeyTest, FileNamesKeepOnlyTheLastPathElement) {
    struct Case {
        std::string in;
        bool ok;
        std::string out;
    };
    const Case cases[] = {
        {"song.mp3", true, "song.mp3"},
        {"../../etc/passwd", true, "passwd"},
        {"..\\..\\win.ini", true, "win.ini"},
        {"/abs/path/a b.wav", true, "a b.wav"},
        {"dir\\sub/mixed.mp3", true, "mixed.mp3"},
        {"it's \"odd\".mp3", true, "it's \"odd\".mp3"},
        {"", false, ""},
        {".", false, ""},
        {"..", false, ""},
        {"dir/..", false, ""},
        {"dir\\.", false, ""},
        {"trailing/", false, ""},
        {std::string("a\0b.mp3", 7), false, ""},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(uploadFileName(c.in, out), c.ok) << c.in;
        if (c.ok) {
            EXPECT_EQ(out, c.out);
        }
    }
}

TEST(UploadKeyTest, FileContextWritesAndKeepsFileOnClose) {
    TempDir dir;
    std::string path = dir.file("up.bin");
    {
        FileContext ctx("KEY", "conn", path);
        EXPECT_FALSE(ctx.write(reinterpret_cast<const uint8_t*>("x"), 1));  // not open yet
        ASSERT_TRUE(ctx.open());
        EXPECT_TRUE(ctx.write(reinterpret_cast<const uint8_t*>("abc"), 3));
        EXPECT_TRUE(ctx.write(nullptr, 0));
    }
    std::string digest;
    ASSERT_TRUE(getMd5(path, digest));
    EXPECT_EQ(digest, getMd5("abc", 3));

    FileContext unwritable("KEY", "conn", dir.file("no/such/folder/f.bin"));
    EXPECT_FALSE(unwritable.open());
    EXPECT_FALSE(unwritable.write(reinterpret_cast<const uint8_t*>("abc"), 3));
}

TEST(UploadKeyTest, FailedWriteIsReported) {
    FileContext full("KEY", "conn", "/dev/full");
    if (!full.open()) {
        GTEST_SKIP() << "/dev/full not available";
    }
    std::vector<uint8_t> bytes(8192, 1);
    EXPECT_FALSE(full.write(bytes.data(), bytes.size()));
}
