// Comparison runs over real SQLite files: the order of the status texts and
// progress positions, and what a cancel during the table phase leaves behind.

#include <gtest/gtest.h>

#include "engine/compare/comparison_run.h"
#include "engine/open_database.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

constexpr std::string_view kSchema =
    "CREATE TABLE A(id INTEGER PRIMARY KEY, x TEXT);"
    "CREATE TABLE B(id INTEGER PRIMARY KEY, a INTEGER REFERENCES A);"
    "CREATE VIEW V AS SELECT id FROM A;"
    "CREATE TRIGGER T AFTER INSERT ON A BEGIN SELECT 1; END;";

// Records status texts and progress positions in one sequence.
class EventHost : public test::RecordingHost {
  public:
    void SetStatusText(std::string_view text) override {
        RecordingHost::SetStatusText(text);
        events.push_back(std::string(text));
    }
    void SetProgressPosition(int position) override {
        RecordingHost::SetProgressPosition(position);
        events.push_back("progress " + std::to_string(position));
    }
    std::vector<std::string> events;
};

class SqliteRunTest : public ::testing::Test {
  protected:
    SqliteRunTest() : settings_(test::DefaultSettings(dir_.Path())) {
        inputs_.database1 = test::MakeSqlite(dir_ / "one.db", kSchema).string();
        inputs_.database2 = test::MakeSqlite(dir_ / "two.db", kSchema).string();
    }

    RunOutcome Run() {
        ComparisonRun run(inputs_, options_, tree_, host_, OpenDatabase);
        return run.RunComparison();
    }
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& node : tree_.Nodes()) {
            keys.push_back(node.key);
        }
        return keys;
    }

    test::TempDir dir_;
    IniFile settings_;
    IniComparisonOptions options_{settings_};
    RunInputs inputs_;
    EventHost host_;
    MemoryResultTree tree_;
};

TEST_F(SqliteRunTest, StatusTextsAndProgressComeInTheRunsOrder) {
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(host_.messages.empty());
    const std::vector<std::string> expected = {
        "progress 0",
        "Opening databases",
        "Comparing databases",
        "progress 10",
        "Comparing tables",
        "Comparing fields of table A",
        "Comparing index of table A",
        "Comparing fields of index sqlite_rowid of table A",
        "progress 50",  // 10 + 80 * 1/2
        "Comparing fields of table B",
        "Comparing index of table B",
        "Comparing fields of index sqlite_rowid of table B",
        "progress 90",
        "progress 90",
        "Comparing queries",
        "Comparing fields of query V",
        "Comparing parameters of query V",
        "Comparing relations",
        "Comparing fields of relation B(a) -> A(id)",
        "Comparing containters",
        "Comparing documents of container Relationships",
        "Comparing documents of container Tables",
        "Comparing documents of container Triggers",
        "progress 100",
        "Done",
    };
    EXPECT_EQ(host_.events, expected);
}

TEST_F(SqliteRunTest, CancelDuringTheTablePhaseKeepsTheNodesAddedSoFar) {
    host_.onYield = [](test::RecordingHost& host) {
        if (!host.statuses.empty() && host.statuses.back() == "Comparing fields of table B") {
            host.cancel = true;
        }
    };
    ASSERT_EQ(Run(), RunOutcome::Stopped);
    EXPECT_EQ(Keys(), (std::vector<std::string>{
                          "Databases",
                          "TableDefs[A]",
                          "TableDefs[B]",
                          "TableDefs[A].Fields[id]",
                          "TableDefs[A].Fields[x]",
                          "TableDefs[A].Indexes[sqlite_rowid]",
                          "TableDefs[A].Indexes[sqlite_rowid].Fields[id]",
                      }));
    EXPECT_TRUE(host_.messages.empty()) << "a cancel is no error";
    EXPECT_EQ(host_.statuses.back(), "");
    EXPECT_EQ(host_.progress.back(), 50);
}

}  // namespace
}  // namespace kesmark
