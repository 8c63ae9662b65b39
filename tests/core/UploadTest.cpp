#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/Md5.h"
#include "server/core/UploadKey.h"
#include "tests/core/CoreHarness.h"
#include "tests/support/FileText.h"

namespace {

std::string content(size_t size, unsigned seed = 1) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Start message for bytes in the front/back form (digests sent lower-case).
Json::Value frontBack(const std::string& name, const std::string& bytes, int64_t sizeDelta = 0) {
    const int64_t size = static_cast<int64_t>(bytes.size());
    const size_t backOffset = static_cast<size_t>(backRangeOffset(size));
    Json::Value msg;
    msg["fileName"] = name;
    msg["md5_front"] = lower(getMd5(bytes.data(), std::min<size_t>(bytes.size(), kUploadRange)));
    msg["md5_back"] = lower(getMd5(bytes.data() + backOffset, bytes.size() - backOffset));
    msg["size"] = static_cast<Json::Int64>(size + sizeDelta);
    return msg;
}

Json::Value wholeFile(const std::string& name, const std::string& md5) {
    Json::Value msg;
    msg["fileName"] = name;
    msg["md5"] = md5;
    return msg;
}

int code(Peer& peer) {
    PeerFrame f;
    EXPECT_TRUE(peer.take("upload-file-response", f));
    return f.msg.get("code", -1).asInt();
}

int start(Peer& peer, const Json::Value& msg) {
    peer.send("upload-file-start", msg);
    return code(peer);
}

int data(Peer& peer, const std::string& bytes) {
    peer.send("upload-file-data", Json::Value(), bytes);
    return code(peer);
}

int end(Peer& peer) {
    peer.send("upload-file-end");
    return code(peer);
}

int fileRows(CoreHarness& h, const std::string& key) {
    QueryResult r;
    EXPECT_TRUE(h.server().querySql("select * from files where originalMd5=?", r, {key}));
    for (size_t i = 0; i < r.rowCount(); ++i) {
        EXPECT_EQ(r.cell(static_cast<long>(i), "fileMd5"), key);
    }
    return static_cast<int>(r.rowCount());
}

}  // namespace

// Both key forms, for files shorter than, exactly as long as and longer than a range.
TEST(UploadTest, UploadIsCheckedRecordedAndRecognisedAfterRestart) {
    CoreHarness h;
    auto peer = h.manager("m");
    const size_t sizes[] = {1000, static_cast<size_t>(kUploadRange),
                            static_cast<size_t>(kUploadRange) + 300001};
    int n = 0;
    struct Done {
        Json::Value startMsg;
        std::string key;
    };
    std::vector<Done> done;
    for (size_t size : sizes) {
        for (bool whole : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (whole ? " whole" : " front/back"));
            const std::string bytes = content(size, static_cast<unsigned>(++n));
            const std::string name = "f" + std::to_string(n) + ".bin";
            Json::Value msg = whole ? wholeFile(name, getMd5(bytes.data(), bytes.size()))
                                    : frontBack(name, bytes);
            const std::string key =
                whole ? msg["md5"].asString()
                      : frontBackKey(msg["md5_front"].asString(), msg["md5_back"].asString(),
                                     static_cast<int64_t>(size));
            ASSERT_EQ(start(*peer, msg), 0);
            EXPECT_EQ(data(*peer, bytes.substr(0, size / 3)), 0);
            EXPECT_EQ(data(*peer, bytes.substr(size / 3)), 0);
            EXPECT_EQ(end(*peer), 0);
            EXPECT_EQ(readFile(h.filesDir() + "/" + name), bytes);
            EXPECT_EQ(fileRows(h, key), 1);
            // Known content: code 1, and the stored file is not touched.
            EXPECT_EQ(start(*peer, msg), 1);
            EXPECT_EQ(readFile(h.filesDir() + "/" + name), bytes);
            if (!whole) {
                Json::Value upper = msg;
                upper["md5_front"] = key.substr(0, 32);
                upper["md5_back"] = key.substr(33, 32);
                EXPECT_EQ(start(*peer, upper), 1);
            }
            done.push_back({msg, key});
        }
    }
    peer.reset();
    h.restart();
    peer = h.manager("m");
    for (const auto& d : done) {
        EXPECT_EQ(start(*peer, d.startMsg), 1) << d.key;
    }
    // Content whose stored copy vanished is uploaded again.
    std::filesystem::remove(h.filesDir() + "/f1.bin");
    EXPECT_EQ(start(*peer, done[0].startMsg), 0);
}

TEST(UploadTest, ContentThatFailsTheCheckIsKeptButNotRecorded) {
    CoreHarness h;
    auto peer = h.manager("m");
    const std::string bytes = content(5000);
    const std::string md5 = getMd5(bytes.data(), bytes.size());
    struct Case {
        std::string name;
        Json::Value msg;
    };
    const Case cases[] = {
        {"size", frontBack("size.bin", bytes, 1)},
        {"lowercase whole", wholeFile("lower.bin", lower(md5))},
        {"two pieces", wholeFile("two.bin", md5 + "-" + md5)},
        {"four pieces", wholeFile("four.bin", md5 + "-" + md5 + "-5000-1")},
        {"empty key", wholeFile("nokey.bin", "")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(start(*peer, c.msg), 0);
        EXPECT_EQ(data(*peer, bytes), 0);
        EXPECT_EQ(end(*peer), 2);
        EXPECT_EQ(readFile(h.filesDir() + "/" + c.msg["fileName"].asString()), bytes);
    }
    QueryResult rows;
    ASSERT_TRUE(h.server().querySql("select * from files", rows));
    EXPECT_EQ(rows.rowCount(), 0u);
}

TEST(UploadTest, ConversationStates) {
    CoreHarness h;
    auto peer = h.manager("m");
    EXPECT_EQ(data(*peer, "xyz"), 2);
    EXPECT_EQ(end(*peer), 2);

    const std::string first = content(3000, 7);
    const std::string second = content(4000, 8);
    ASSERT_EQ(start(*peer, frontBack("first.bin", first)), 0);
    EXPECT_EQ(data(*peer, first.substr(0, 1000)), 0);
    // A second start replaces the open upload; the first file stays partly written.
    ASSERT_EQ(start(*peer, frontBack("second.bin", second)), 0);
    EXPECT_EQ(data(*peer, second), 0);
    EXPECT_EQ(end(*peer), 0);
    EXPECT_EQ(readFile(h.filesDir() + "/first.bin"), first.substr(0, 1000));
    EXPECT_EQ(readFile(h.filesDir() + "/second.bin"), second);

    ASSERT_EQ(start(*peer, frontBack("third.bin", first)), 0);
    peer->send("upload-file-terminate");
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(peer->count("upload-file-response"), 0);
    EXPECT_EQ(data(*peer, "more"), 2);
    peer->send("upload-file-terminate");
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(peer->count("upload-file-response"), 0);
}

TEST(UploadTest, FileNamesNeverLeaveTheFilesFolder) {
    CoreHarness h;
    auto peer = h.manager("m");
    struct Case {
        std::string name;
        std::string stored;  // empty: refused
    };
    const Case cases[] = {
        {"../escape1.bin", "escape1.bin"},
        {"..\\..\\escape2.bin", "escape2.bin"},
        {"/tmp/abs.bin", "abs.bin"},
        {"sub/dir\\it's \"q\".bin", "it's \"q\".bin"},
        {"..", ""},
        {".", ""},
        {"dir/", ""},
        {"", ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = content(100, static_cast<unsigned>(++n));
        testing::internal::CaptureStdout();
        int started = start(*peer, frontBack(c.name, bytes));
        std::string log = testing::internal::GetCapturedStdout();
        if (c.stored.empty()) {
            EXPECT_EQ(started, 2);
            EXPECT_EQ(countText(log, "upload refused, bad file name"), 1) << log;
            EXPECT_EQ(data(*peer, bytes), 2);
            continue;
        }
        ASSERT_EQ(started, 0);
        EXPECT_EQ(data(*peer, bytes), 0);
        EXPECT_EQ(end(*peer), 0);
        EXPECT_EQ(readFile(h.filesDir() + "/" + c.stored), bytes);
    }
    EXPECT_FALSE(std::filesystem::exists(h.docDir() + "/escape1.bin"));
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::path(h.docDir()).parent_path() / "escape2.bin"));
    size_t inDoc = 0;
    for (const auto& e : std::filesystem::directory_iterator(h.docDir())) {
        inDoc += e.is_regular_file() && e.path().filename() != "sonavel.db" ? 1 : 0;
    }
    EXPECT_EQ(inDoc, 0u);
}

TEST(UploadTest, FailedWriteAnswersTwoAndClosesTheUpload) {
    CoreHarness h;
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full not available";
    }
    std::filesystem::create_symlink("/dev/full", h.filesDir() + "/full.bin");
    auto peer = h.manager("m");
    const std::string bytes = content(70000);
    ASSERT_EQ(start(*peer, frontBack("full.bin", bytes)), 0);
    testing::internal::CaptureStdout();
    int written = data(*peer, bytes);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(written, 2);
    EXPECT_EQ(countText(log, "upload write failed"), 1) << log;
    EXPECT_EQ(data(*peer, bytes), 2);
    EXPECT_EQ(end(*peer), 2);
}

// The check runs off the network thread; replies still come in request order
// and later commands see its result.
TEST(UploadTest, RepliesKeepRequestOrderAcrossTheCheck) {
    CoreHarness h;
    auto peer = h.manager("m");
    const std::string bytes = content(3 * static_cast<size_t>(kUploadRange), 3);
    const Json::Value msg = wholeFile("big.bin", getMd5(bytes.data(), bytes.size()));
    peer->send("upload-file-start", msg);
    peer->send("upload-file-data", Json::Value(), bytes);
    peer->send("upload-file-end");
    peer->send("upload-file-start", msg);
    peer->send("query-account");
    peer->send("upload-file-end");
    ASSERT_TRUE(peer->sync());
    std::vector<std::string> seen;
    for (const auto& f : peer->inbox()) {
        seen.push_back(f.cmd == "upload-file-response"
                           ? "code" + std::to_string(f.msg["code"].asInt())
                           : f.cmd);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"code0", "code0", "code0", "code1",
                                              "response-account", "code2"}));
}
