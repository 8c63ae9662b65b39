#include <gtest/gtest.h>

#include <thread>

#include "server/db/Database.h"
#include "tests/support/TempDir.h"

namespace {

int countLines(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos;
         pos = text.find(needle, pos + 1)) {
        ++n;
    }
    return n;
}

}  // namespace

TEST(DatabaseTest, FirstStartIsCleanSecondStartLogsTwoFailures) {
    TempDir dir;
    Database db(dir.file("sonavel.db"));

    testing::internal::CaptureStdout();
    db.createSchema();
    EXPECT_EQ(countLines(testing::internal::GetCapturedStdout(), "exec sql failed"), 0);

    QueryResult accounts;
    ASSERT_TRUE(db.querySql("select * from account", accounts));
    ASSERT_EQ(accounts.rowCount(), 1u);
    EXPECT_EQ(accounts.row(0),
              (std::vector<std::string>{"admin", "0f3d58864d5e607b8809696a25dd9bf1", "admin", ""}));

    testing::internal::CaptureStdout();
    db.createSchema();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countLines(log, "exec sql failed: "), 2) << log;
    EXPECT_EQ(countLines(log, "exec sql failed: insert into account"), 1);
    EXPECT_EQ(countLines(log, "exec sql failed: create table schedule"), 1);

    // A removed administrator comes back with the default password on the next start.
    ASSERT_TRUE(db.execSql("delete from account where userName=?", {std::string("admin")}));
    testing::internal::CaptureStdout();
    db.createSchema();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(db.querySql("select * from account", accounts));
    EXPECT_EQ(accounts.rowCount(), 1u);
}

TEST(DatabaseTest, ValuesAreBoundNeverPasted) {
    TempDir dir;
    Database db(dir.file("sonavel.db"));
    db.createSchema();
    const std::string odd[] = {
        "o'brien",
        "'); drop table account; --",
        std::string("nul\0byte", 8),
        "\xff\xfe not utf-8",
        "\"double\" and \\backslash\\ and %s %d",
        std::string(100000, 'x'),  // far past any fixed statement buffer
    };
    for (const auto& value : odd) {
        ASSERT_TRUE(db.execSql("insert into endpoints(devId, devName) values(?, ?)",
                               {value, value + "-name"}));
        QueryResult r;
        ASSERT_TRUE(db.querySql("select * from endpoints where devId=?", r, {value}));
        ASSERT_EQ(r.rowCount(), 1u);
        EXPECT_EQ(r.cell(0, "devId"), value);
        EXPECT_EQ(r.cell(0, "devName"), value + "-name");
    }
    QueryResult all;
    ASSERT_TRUE(db.querySql("select * from account", all));
    EXPECT_EQ(all.rowCount(), 1u);
}

TEST(DatabaseTest, QueryResultAccessorsAndNulls) {
    TempDir dir;
    Database db(dir.file("sonavel.db"));
    db.createSchema();

    QueryResult r;
    ASSERT_TRUE(db.querySql("select * from groups", r));
    EXPECT_EQ(r.rowCount(), 0u);
    EXPECT_TRUE(r.columns.empty());
    EXPECT_TRUE(r.column("groupId").empty());
    EXPECT_EQ(r.cell(0, "groupId"), "");

    ASSERT_TRUE(db.execSql("insert into groups(groupId, groupName) values(?, ?)",
                           {std::string("g1"), std::string("Hall")}));
    ASSERT_TRUE(
        db.execSql("insert into schedule values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                   {std::string("s1"), std::string("audio"), std::string("{}\n"), std::string(""),
                    int64_t{255}, std::string("2016-3-7 9:5:0"), std::string("8:0:0"),
                    int64_t{5000000000}, std::string("ready"), std::string("")}));
    ASSERT_TRUE(db.querySql("select * from groups", r));
    EXPECT_EQ(r.columns, (std::vector<std::string>{"groupId", "groupName", "groupMembers"}));
    EXPECT_EQ(r.cell(0, "groupMembers"), "");  // NULL
    EXPECT_TRUE(r.row(-1).empty());
    EXPECT_TRUE(r.row(1).empty());
    EXPECT_TRUE(r.column("nope").empty());
    EXPECT_EQ(r.cell(0, "nope"), "");

    ASSERT_TRUE(db.querySql("select * from schedule", r));
    EXPECT_EQ(r.cell(0, "repeat"), "255");
    EXPECT_EQ(r.cell(0, "duration"), "5000000000");
}

TEST(DatabaseTest, FailuresAreResultsAndLogLines) {
    TempDir dir;
    Database missing(dir.file("no/such/folder/sonavel.db"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(missing.execSql("create table t(a)"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // open failures are silent

    Database db(dir.file("sonavel.db"));
    db.createSchema();
    QueryResult r;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(db.querySql("select * from nowhere", r));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("exec sql failed: select * from nowhere, no such table: nowhere"),
              std::string::npos)
        << log;
}

TEST(DatabaseTest, ConcurrentCallersSeeEachOthersWrites) {
    TempDir dir;
    Database db(dir.file("sonavel.db"));
    db.createSchema();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&db, t] {
            for (int i = 0; i < 25; ++i) {
                db.execSql("insert into files values(?, ?, ?)",
                           {std::to_string(t), std::to_string(i), std::string("p")});
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    QueryResult r;
    ASSERT_TRUE(db.querySql("select * from files", r));
    EXPECT_EQ(r.rowCount(), 100u);
}
