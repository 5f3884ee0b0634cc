#include "tests/support/row_scenarios.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/support/test_support.h"

namespace kesmark::test {

namespace {

using json = nlohmann::json;

// Node key -> picture number of a run's nodes.
std::map<std::string, int> RunImages(const std::vector<std::string>& args) {
    const auto run = RunDiff(args);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.err, "") << "no message: every table is read in key order";
    const json doc = json::parse(run.out, nullptr, false);
    std::map<std::string, int> images;
    if (doc.is_discarded()) {
        ADD_FAILURE() << run.out;
        return images;
    }
    for (const auto& node : doc["nodes"]) {
        images[node["key"].get<std::string>()] = node["image"].get<int>();
    }
    return images;
}

// The keys of the nodes with a differs picture, the root left out.
std::set<std::string> Differing(const std::map<std::string, int>& images) {
    std::set<std::string> keys;
    for (const auto& [key, image] : images) {
        if (image % 2 == 0 && key != "Databases") {
            keys.insert(key);
        }
    }
    return keys;
}

// The rows of a listing, name -> "text1 | text2 | icon".
std::map<std::string, std::string> Listing(const std::vector<std::string>& args) {
    const auto shown = RunDiff(args);
    const json doc = json::parse(shown.out, nullptr, false);
    std::map<std::string, std::string> rows;
    if (doc.is_discarded()) {
        ADD_FAILURE() << shown.out << shown.err;
        return rows;
    }
    for (const auto& row : doc["rows"]) {
        rows[row["name"].get<std::string>()] = row["text1"].get<std::string>() + " | " +
                                               row["text2"].get<std::string>() + " | " +
                                               std::to_string(row["icon"].get<int>());
    }
    EXPECT_TRUE(doc["messages"].empty()) << shown.out;
    return rows;
}

std::string ManyRow(int id) {
    return "TableDefs[many].Rows[" + std::to_string(id) + "]";
}

}  // namespace

std::string RowPairSql(char side) {
    return ReadFile(fs::path(KESMARK_SOURCE_DIR) / "tests/engine/backends/odbc/postgres" /
                    (std::string("kesmark_rows_") + side + ".sql"));
}

void ExpectRowPairResults(const std::string& database1, const std::string& database2,
                          const fs::path& folder, const std::vector<std::string>& extra,
                          const std::string& matched) {
    const std::string settings = DefaultSettings(folder).string();
    auto withSettings = [&](std::vector<std::string> args, const std::string& file) {
        args.insert(args.begin(), {"--json", "--data", "--settings", file});
        args.insert(args.begin(), extra.begin(), extra.end());
        args.insert(args.end(), {database1, database2});
        return args;
    };

    // By key: exactly the rows that changed, went or came, and the fields
    // that differ in a row present on both sides.
    std::set<std::string> expected = {
        "TableDefs[updated]",
        "TableDefs[updated].Fields[amount]",
        "TableDefs[updated].Fields[amount].Records[2]",
        "TableDefs[updated].Rows[2]",
        "TableDefs[updated].Rows[5]",
        "TableDefs[updated].Rows[8]",
        "TableDefs[deleted]",
        "TableDefs[deleted].Rows[3]",
        "TableDefs[added]",
        "TableDefs[added].Rows[4]",
        "TableDefs[composite]",
        "TableDefs[composite].Fields[note]",
        // ("Z", 1) sorts first: capitals before small letters, byte by byte.
        "TableDefs[composite].Fields[note].Records[2]",
        "TableDefs[composite].Rows[a]]b,, c, 1]",
        "TableDefs[composite].Rows[n, 1]",
        // No key: matched by position, in each database's own order.
        "TableDefs[loose]",
        "TableDefs[loose].Fields[x]",
        "TableDefs[loose].Fields[x].Records[1]",
        "TableDefs[loose].Fields[y]",
        "TableDefs[loose].Fields[y].Records[1]",
        "TableDefs[many]",
        "TableDefs[many].Fields[v]",
        "TableDefs[many].Fields[v].Records[1]",
    };
    for (int id = 1; id <= 40; ++id) {
        expected.insert(ManyRow(id));
    }
    const auto images = RunImages(withSettings({}, settings));
    EXPECT_EQ(Differing(images), expected);
    EXPECT_EQ(images.at("TableDefs[updated].Rows[5]"), 26) << "changed";
    EXPECT_EQ(images.at("TableDefs[deleted].Rows[3]"), 22) << "only in database 1";
    EXPECT_EQ(images.at("TableDefs[added].Rows[4]"), 24) << "only in database 2";
    EXPECT_EQ(images.at("TableDefs[reversed]"), 1) << "the same rows in another order";
    EXPECT_EQ(images.at("TableDefs[coded]"), 1) << "matched by its unique key";

    // A row lists its fields side by side; a row on one side only lists
    // "not found" on the other; Null is a value like any other.
    EXPECT_EQ(Listing(withSettings({"--show", "TableDefs[updated].Rows[5]"}, settings)),
              (std::map<std::string, std::string>{
                  {"amount", "50 | 55 | 8"}, {"id", "5 | 5 | 7"}, {"name", "five | five | 7"}}));
    EXPECT_EQ(Listing(withSettings({"--show", "TableDefs[deleted].Rows[3]"}, settings)),
              (std::map<std::string, std::string>{{"id", "3 | not found | 8"},
                                                  {"name", "c | not found | 8"}}));
    EXPECT_EQ(Listing(withSettings({"--show", "TableDefs[added].Rows[4]"}, settings)),
              (std::map<std::string, std::string>{{"id", "not found | 4 | 8"},
                                                  {"name", "not found | d | 8"}}));
    EXPECT_EQ(Listing(withSettings({"--show", "TableDefs[composite].Rows[a]]b,, c, 1]"}, settings)),
              (std::map<std::string, std::string>{
                  {"k1", "a]b, c | a]b, c | 7"}, {"k2", "1 | 1 | 7"}, {"note", "x | x! | 8"}}));
    EXPECT_EQ(
        Listing(withSettings({"--show", "TableDefs[composite].Rows[n, 1]"}, settings)).at("note"),
        "Null | now set | 8");
    // The record node of a field names the first changed pair, by its place
    // in database 1's key order.
    EXPECT_EQ(
        Listing(withSettings({"--show", "TableDefs[updated].Fields[amount].Records[2]"}, settings))
            .at("Value"),
        "20 | 21 | 8");

    // A table's listing says how its records are matched and counts its rows.
    const auto updated = Listing(withSettings({"--show", "TableDefs[updated]"}, settings));
    EXPECT_EQ(updated.at("Matching"), matched + " | " + matched + " | 7");
    EXPECT_EQ(updated.at("Key"), "id | id | 7");
    EXPECT_EQ(updated.at("Rows only in database 1"), "0 |  | 7");
    EXPECT_EQ(updated.at("Rows only in database 2"), " | 0 | 7");
    EXPECT_EQ(updated.at("Rows changed"), "3 | 3 | 8");
    EXPECT_EQ(updated.at("Rows same"), "7 | 7 | 7");
    const auto deleted = Listing(withSettings({"--show", "TableDefs[deleted]"}, settings));
    EXPECT_EQ(deleted.at("Rows only in database 1"), "1 |  | 8");
    EXPECT_EQ(deleted.at("Rows changed"), "0 | 0 | 7");
    EXPECT_EQ(Listing(withSettings({"--show", "TableDefs[loose]"}, settings)).at("Matching"),
              "Matched by position (no common key) | Matched by position (no common key) | 7");

    // MaxRows caps the row nodes; the counts stay exact.
    const fs::path capped = folder / "capped";
    fs::create_directories(capped);
    const std::string cappedSettings = DefaultSettings(capped).string();
    SetIni(cappedSettings, "Data", "MaxRows", "5");
    std::set<std::string> manyRows;
    for (const auto& key : Differing(RunImages(withSettings({}, cappedSettings)))) {
        if (key.starts_with("TableDefs[many].Rows[")) {
            manyRows.insert(key);
        }
    }
    EXPECT_EQ(manyRows,
              (std::set<std::string>{ManyRow(1), ManyRow(2), ManyRow(3), ManyRow(4), ManyRow(5)}));
    EXPECT_EQ(
        Listing(withSettings({"--show", "TableDefs[many]"}, cappedSettings)).at("Rows changed"),
        "40 | 40 | 8");

    // By position the nodes are those of record pairs alone, in key order
    // where there is a key: tables of different record counts are not
    // compared record by record, the same rows in another order are the same.
    const std::set<std::string> byPosition = {
        "TableDefs[updated]",
        "TableDefs[updated].Fields[amount]",
        "TableDefs[updated].Fields[amount].Records[2]",
        "TableDefs[deleted]",
        "TableDefs[added]",
        "TableDefs[composite]",
        "TableDefs[composite].Fields[note]",
        "TableDefs[composite].Fields[note].Records[2]",
        "TableDefs[loose]",
        "TableDefs[loose].Fields[x]",
        "TableDefs[loose].Fields[x].Records[1]",
        "TableDefs[loose].Fields[y]",
        "TableDefs[loose].Fields[y].Records[1]",
        "TableDefs[many]",
        "TableDefs[many].Fields[v]",
        "TableDefs[many].Fields[v].Records[1]",
    };
    EXPECT_EQ(Differing(RunImages(withSettings({"--match", "position"}, settings))), byPosition);
    EXPECT_EQ(
        Listing(withSettings({"--match", "position", "--show", "TableDefs[updated]"}, settings))
            .at("Matching"),
        "Matched by position, in the order of the key (id) | Matched by position, in the "
        "order of the key (id) | 7");
    const fs::path positional = folder / "positional";
    fs::create_directories(positional);
    const std::string positionalSettings = DefaultSettings(positional).string();
    SetIni(positionalSettings, "Data", "MatchRecords", "Position");
    EXPECT_EQ(Differing(RunImages(withSettings({}, positionalSettings))), byPosition);
    EXPECT_EQ(Differing(RunImages(withSettings({"--match", "key"}, positionalSettings))), expected);
}

}  // namespace kesmark::test
