// The sync script's promise, checked on many generated pairs: run against
// database 2, the script makes it equal to database 1, with the data.
//
// A seeded generator builds one SQLite database and two edited copies of it
// (columns added, dropped, retyped and made to need a value; indexes, views, triggers and tables
// added and dropped; rows inserted, deleted and updated; keys of several
// types, Nulls in the values). For each pair, kesmark-diff --data
// --sync-sql writes the script, the real sqlite3 runs it on a copy of
// database 2, and kesmark-diff --data must then find the copy equal to
// database 1. A failure names its seed; KESMARK_SYNC_SEED=N runs that pair
// alone, KESMARK_SYNC_PAIRS=N runs N pairs (default 60).

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/dice.h"
#include "tests/support/test_support.h"

namespace kesmark::test {
namespace {

struct GenColumn {
    std::string name;
    std::string type;        // as declared; "" for none
    std::string constraint;  // "NOT NULL DEFAULT 0", ...
};

// The kinds of key a generated table has.
enum class KeyKind { IntegerRowid, Text, Composite, Blob, TextWithNull };

struct GenTable {
    std::string name;
    KeyKind key = KeyKind::IntegerRowid;
    std::vector<GenColumn> columns;  // the key columns first
    std::size_t keyCount = 1;
    bool withoutRowid = false;
    bool autoIncrement = false;  // an AUTOINCREMENT key (IntegerRowid)
    // Rows by their key's literal text; values as SQL literals in column order.
    std::map<std::string, std::vector<std::string>> rows;
    std::set<std::string> indexes;  // names "ix_<table>_<column>": one column each
    bool view = false;
    bool trigger = false;
};

struct GenDatabase {
    std::vector<GenTable> tables;
    int userVersion = 0;
    int nextName = 0;
};

const std::vector<std::string> kTypes = {"INTEGER", "TEXT", "REAL", "BLOB", "NUMERIC", ""};

std::string Quote(const std::string& name) {
    return "\"" + name + "\"";
}

// A literal of a value that a column of `type` may hold: mostly of its own
// kind, sometimes Null or of another kind (SQLite keeps any value).
std::string RandomValue(Dice& dice, const std::string& type) {
    if (dice.Chance(15)) {
        return "NULL";
    }
    std::string kind = type;
    if (kind.empty() || kind == "NUMERIC" || dice.Chance(10)) {
        kind = dice.Pick(std::vector<std::string>{"INTEGER", "TEXT", "REAL", "BLOB"});
    }
    if (kind == "INTEGER") {
        const std::vector<std::string> special = {"0", "-1", "9223372036854775807",
                                                  "-9223372036854775808"};
        return dice.Chance(10) ? dice.Pick(special)
                               : std::to_string(static_cast<long long>(dice.Below(2000)) - 1000);
    }
    if (kind == "REAL") {
        const std::vector<std::string> reals = {
            "0.5", "-2.25", "3.141592653589793", "1e300", "-0.0", "0.1", "2.0", "1e-7"};
        return dice.Pick(reals);
    }
    if (kind == "BLOB") {
        const std::vector<std::string> blobs = {"X''", "X'00'", "X'00ff10'", "X'deadbeef'",
                                                "X'4142'"};
        return dice.Pick(blobs);
    }
    const std::vector<std::string> texts = {"''",       "'a'",       "'it''s'", "'Ünïcødé'",
                                            "'两个字'", "'  pad  '", "'12'",    "'line\nbreak'",
                                            "'1.50'",   "'x,y]'"};
    return dice.Pick(texts) == "'a'" ? "'a" + std::to_string(dice.Below(50)) + "'"
                                     : dice.Pick(texts);
}

// A fresh key literal (or literals, for a composite key) for `table`.
std::vector<std::string> RandomKey(Dice& dice, const GenTable& table) {
    switch (table.key) {
        case KeyKind::IntegerRowid:
            return {std::to_string(dice.Below(500) + 1)};
        case KeyKind::Text:
            return {"'k" + std::to_string(dice.Below(500)) + "'"};
        case KeyKind::TextWithNull:
            return {dice.Chance(5) ? "NULL" : "'n" + std::to_string(dice.Below(500)) + "'"};
        case KeyKind::Composite:
            return {std::to_string(dice.Below(20)), "'c" + std::to_string(dice.Below(20)) + "'"};
        case KeyKind::Blob:
            return {"X'" + std::to_string(10 + dice.Below(80)) + "'"};
    }
    return {};
}

std::string KeyText(const std::vector<std::string>& key) {
    std::string text;
    for (const auto& k : key) {
        text += k + "|";
    }
    return text;
}

void InsertRow(Dice& dice, GenTable& table) {
    const auto key = RandomKey(dice, table);
    std::string text = KeyText(key);
    if (key.front() == "NULL") {
        // Nulls in a key are all different rows.
        text += std::to_string(dice.Below(1u << 30));
    }
    if (table.rows.count(text) != 0) {
        return;
    }
    std::vector<std::string> row = key;
    for (std::size_t c = table.keyCount; c < table.columns.size(); ++c) {
        const auto& column = table.columns[c];
        std::string value = RandomValue(dice, column.type);
        if (value == "NULL" && !column.constraint.empty()) {
            value = "0";
        }
        row.push_back(value);
    }
    table.rows[text] = row;
}

GenTable NewTable(Dice& dice, GenDatabase& db) {
    GenTable table;
    table.name = "t" + std::to_string(db.nextName++);
    table.key = static_cast<KeyKind>(dice.Below(5));
    switch (table.key) {
        case KeyKind::IntegerRowid:
            table.columns.push_back({"id", "INTEGER", ""});
            table.autoIncrement = dice.Chance(40);
            break;
        case KeyKind::Text:
            table.columns.push_back({"code", "TEXT", ""});
            table.withoutRowid = dice.Chance(50);
            break;
        case KeyKind::TextWithNull:
            table.columns.push_back({"code", "TEXT", ""});
            break;
        case KeyKind::Composite:
            table.columns.push_back({"a", "INTEGER", ""});
            table.columns.push_back({"b", "TEXT", ""});
            table.keyCount = 2;
            table.withoutRowid = dice.Chance(50);
            break;
        case KeyKind::Blob:
            table.columns.push_back({"k", "BLOB", ""});
            break;
    }
    const std::size_t extra = 1 + dice.Below(4);
    for (std::size_t c = 0; c < extra; ++c) {
        table.columns.push_back({"c" + std::to_string(db.nextName++), dice.Pick(kTypes),
                                 dice.Chance(15) ? "NOT NULL DEFAULT 0" : ""});
    }
    table.trigger = dice.Chance(40);
    table.view = dice.Chance(30);
    const std::size_t rows = dice.Below(25);
    for (std::size_t r = 0; r < rows; ++r) {
        InsertRow(dice, table);
    }
    return table;
}

// One random edit of the database.
void Edit(Dice& dice, GenDatabase& db) {
    if (db.tables.empty()) {
        db.tables.push_back(NewTable(dice, db));
        return;
    }
    GenTable& table = db.tables[dice.Below(db.tables.size())];
    const std::size_t plain = table.columns.size() - table.keyCount;
    switch (dice.Below(14)) {
        case 0: {  // add a column
            GenColumn column{"c" + std::to_string(db.nextName++), dice.Pick(kTypes),
                             dice.Chance(30) ? "NOT NULL DEFAULT 7" : ""};
            table.columns.push_back(column);
            for (auto& [key, row] : table.rows) {
                row.push_back(column.constraint.empty() ? "NULL" : "7");
                if (dice.Chance(50)) {
                    const std::string value = RandomValue(dice, column.type);
                    row.back() = value == "NULL" && !column.constraint.empty() ? "1" : value;
                }
            }
            break;
        }
        case 1: {  // drop a column
            if (plain < 2) {
                break;
            }
            const std::size_t c = table.keyCount + dice.Below(plain);
            table.indexes.erase("ix_" + table.name + "_" + table.columns[c].name);
            table.columns.erase(table.columns.begin() + static_cast<std::ptrdiff_t>(c));
            for (auto& [key, row] : table.rows) {
                row.erase(row.begin() + static_cast<std::ptrdiff_t>(c));
            }
            break;
        }
        case 2: {  // retype a column
            if (plain == 0) {
                break;
            }
            table.columns[table.keyCount + dice.Below(plain)].type = dice.Pick(kTypes);
            break;
        }
        case 3: {  // add or drop an index
            if (plain == 0) {
                break;
            }
            const std::string name =
                "ix_" + table.name + "_" + table.columns[table.keyCount + dice.Below(plain)].name;
            if (!table.indexes.insert(name).second) {
                table.indexes.erase(name);
            }
            break;
        }
        case 4:
            table.view = !table.view;
            break;
        case 5:
            table.trigger = !table.trigger;
            break;
        case 6:
        case 7: {  // insert rows
            const std::size_t n = 1 + dice.Below(4);
            for (std::size_t i = 0; i < n; ++i) {
                InsertRow(dice, table);
            }
            break;
        }
        case 8: {  // delete a row
            if (!table.rows.empty()) {
                auto it = table.rows.begin();
                std::advance(it, static_cast<std::ptrdiff_t>(dice.Below(table.rows.size())));
                table.rows.erase(it);
            }
            break;
        }
        case 9:
        case 10: {  // update values
            if (table.rows.empty() || plain == 0) {
                break;
            }
            auto it = table.rows.begin();
            std::advance(it, static_cast<std::ptrdiff_t>(dice.Below(table.rows.size())));
            const std::size_t c = table.keyCount + dice.Below(plain);
            std::string value = RandomValue(dice, table.columns[c].type);
            if (value == "NULL" && !table.columns[c].constraint.empty()) {
                value = "3";
            }
            it->second[c] = value;
            break;
        }
        case 11:  // a table more, or one less
            if (dice.Chance(60) || db.tables.size() < 2) {
                db.tables.push_back(NewTable(dice, db));
            } else {
                db.tables.erase(db.tables.begin() +
                                static_cast<std::ptrdiff_t>(dice.Below(db.tables.size())));
            }
            break;
        case 12:
            db.userVersion = static_cast<int>(dice.Below(4));
            break;
        case 13: {  // a column made to need a value, or let go of it
            if (plain == 0) {
                break;
            }
            const std::size_t c = table.keyCount + dice.Below(plain);
            auto& column = table.columns[c];
            column.constraint = column.constraint.empty() ? "NOT NULL DEFAULT 0" : "";
            for (auto& [key, row] : table.rows) {
                if (!column.constraint.empty() && row[c] == "NULL") {
                    row[c] = "5";
                }
            }
            break;
        }
    }
}

// The SQL that builds the database: tables and rows first, then indexes,
// views and triggers (so that no trigger touched the rows).
std::string Render(const GenDatabase& db) {
    std::string sql = "PRAGMA user_version = " + std::to_string(db.userVersion) + ";\nBEGIN;\n";
    // SQLite keeps sqlite_sequence once an AUTOINCREMENT table was made, and
    // no script can drop it: both databases have one from the start.
    sql +=
        "CREATE TABLE \"numbered\" (id INTEGER PRIMARY KEY AUTOINCREMENT, note TEXT);\n"
        "INSERT INTO \"numbered\" VALUES (" +
        std::to_string(db.userVersion + 1) + ", 'n');\n";
    for (const auto& table : db.tables) {
        sql += "CREATE TABLE " + Quote(table.name) + " (";
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            const auto& column = table.columns[c];
            sql += (c ? ", " : "") + Quote(column.name) +
                   (column.type.empty() ? "" : " " + column.type) +
                   (column.constraint.empty() ? "" : " " + column.constraint);
            if (c == 0 && table.autoIncrement) {
                sql += " PRIMARY KEY AUTOINCREMENT";
            }
        }
        std::string key;
        for (std::size_t k = 0; k < table.keyCount; ++k) {
            key += (k ? ", " : "") + Quote(table.columns[k].name);
        }
        sql += table.autoIncrement ? ")" : ", PRIMARY KEY (" + key + "))";
        sql += table.withoutRowid ? " WITHOUT ROWID;\n" : ";\n";
        for (const auto& [text, row] : table.rows) {
            sql += "INSERT INTO " + Quote(table.name) + " VALUES (";
            for (std::size_t c = 0; c < row.size(); ++c) {
                sql += (c ? ", " : "") + row[c];
            }
            sql += ");\n";
        }
    }
    for (const auto& table : db.tables) {
        for (const auto& index : table.indexes) {
            const std::string column = index.substr(("ix_" + table.name + "_").size());
            sql += "CREATE INDEX " + Quote(index) + " ON " + Quote(table.name) + " (" +
                   Quote(column) + ");\n";
        }
        if (table.view) {
            sql += "CREATE VIEW " + Quote("v_" + table.name) + " AS SELECT * FROM " +
                   Quote(table.name) + ";\n";
        }
        if (table.trigger && table.columns.size() > table.keyCount) {
            // Harmful if it fired while the script writes rows.
            const std::string column = Quote(table.columns.back().name);
            const std::string key = Quote(table.columns.front().name);
            sql += "CREATE TRIGGER " + Quote("tr_" + table.name) + " AFTER INSERT ON " +
                   Quote(table.name) + " BEGIN UPDATE " + Quote(table.name) + " SET " + column +
                   " = 99 WHERE " + key + " = new." + key + "; END;\n";
        }
    }
    return sql + "COMMIT;\n";
}

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

// Builds the pair of `seed`, writes its script, runs it on a copy of
// database 2 and compares; an empty result means the promise held.
std::string CheckPair(std::uint64_t seed, const fs::path& folder, const fs::path& settings,
                      const fs::path& sqlite3, int& differing) {
    Dice dice(seed);
    GenDatabase base;
    const std::size_t tables = 1 + dice.Below(3);
    for (std::size_t t = 0; t < tables; ++t) {
        base.tables.push_back(NewTable(dice, base));
    }
    GenDatabase one = base;
    GenDatabase two = base;
    two.nextName = one.nextName = base.nextName;
    for (std::size_t e = dice.Below(6); e > 0; --e) {
        Edit(dice, one);
    }
    two.nextName = one.nextName + 1000;
    for (std::size_t e = dice.Below(6); e > 0; --e) {
        Edit(dice, two);
    }
    const fs::path dbFolder = folder / ("pair" + std::to_string(seed));
    const fs::path outFolder = folder / ("out" + std::to_string(seed));
    fs::create_directories(dbFolder);
    fs::create_directories(outFolder);
    const fs::path a = MakeSqlite(dbFolder / "a.db", Render(one));
    const fs::path b = MakeSqlite(dbFolder / "b.db", Render(two));
    const fs::path script = outFolder / "sync.sql";
    const DiffResult written = RunDiff({"--data", "--quiet", "--settings", settings.string(),
                                        "--sync-sql", script.string(), a.string(), b.string()});
    if (written.exitCode == 2 || !fs::exists(script)) {
        return "writing the script failed (" + std::to_string(written.exitCode) +
               "): " + written.err;
    }
    differing += written.exitCode == 1 ? 1 : 0;
    const fs::path synced = outFolder / "b-synced.db";
    fs::copy_file(b, synced);
    const DiffResult ran =
        RunCommand(sqlite3, {"-bail", synced.string(), ".read " + script.string()});
    if (ran.exitCode != 0) {
        return "sqlite3 failed: " + ran.err + "\n" + ReadFile(script);
    }
    const DiffResult after = RunDiff(
        {"--data", "--quiet", "--settings", settings.string(), a.string(), synced.string()});
    if (after.exitCode != 0) {
        std::string differs;
        std::istringstream lines(after.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("same", 0) != 0) {
                differs += line + "\n";
            }
        }
        return "database 2 after the script still differs (" + std::to_string(after.exitCode) +
               "):\n" + differs + after.err + "\nscript:\n" + ReadFile(script);
    }
    // Without the data, the script brings the schema alone.
    const fs::path schemaScript = outFolder / "schema.sql";
    const DiffResult schemaWritten =
        RunDiff({"--quiet", "--settings", settings.string(), "--sync-sql", schemaScript.string(),
                 a.string(), b.string()});
    if (schemaWritten.exitCode == 2 || !fs::exists(schemaScript)) {
        return "writing the schema script failed: " + schemaWritten.err;
    }
    const fs::path schemaSynced = outFolder / "b-schema.db";
    fs::copy_file(b, schemaSynced);
    const DiffResult schemaRan =
        RunCommand(sqlite3, {"-bail", schemaSynced.string(), ".read " + schemaScript.string()});
    if (schemaRan.exitCode != 0) {
        return "sqlite3 failed on the schema script: " + schemaRan.err + "\n" +
               ReadFile(schemaScript);
    }
    const DiffResult schemaAfter =
        RunDiff({"--quiet", "--settings", settings.string(), a.string(), schemaSynced.string()});
    if (schemaAfter.exitCode != 0) {
        return "database 2 after the schema script still differs:\n" + schemaAfter.out +
               "\nscript:\n" + ReadFile(schemaScript);
    }
    fs::remove_all(dbFolder);
    fs::remove_all(outFolder);
    return {};
}

TEST(SyncProperty, ScriptMakesDatabase2LikeDatabase1) {
    const fs::path sqlite3 = FindProgram("sqlite3");
    if (sqlite3.empty()) {
        GTEST_SKIP() << "sqlite3 not found on the PATH (scripts/install-deps.sh installs it)";
    }
    TempDir dir;
    fs::create_directories(dir / "settings");
    // The size of the file follows from how SQLite stores, not from what it
    // holds: its page counts are left out of the comparison.
    const fs::path settings = DefaultSettings(dir / "settings");
    SetIni(settings, "Databases", "Skip8", "PageCount");
    SetIni(settings, "Databases", "Skip9", "FreelistCount");
    SetIni(settings, "Databases", "NumSkip", "9");

    const std::uint64_t only = EnvNumber("KESMARK_SYNC_SEED", 0);
    const std::uint64_t pairs = only ? 1 : EnvNumber("KESMARK_SYNC_PAIRS", 60);
    const std::uint64_t first = only ? only : 1;
    int failures = 0;
    int differing = 0;
    for (std::uint64_t seed = first; seed < first + pairs && failures < 3; ++seed) {
        const std::string problem = CheckPair(seed, dir.Path(), settings, sqlite3, differing);
        if (!problem.empty()) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << " (KESMARK_SYNC_SEED=" << seed
                          << " repeats it): " << problem;
        }
    }
    // The generator must make pairs that differ, or the promise is idle.
    if (!only && failures == 0) {
        EXPECT_GT(differing, static_cast<int>(pairs * 3 / 4)) << "pairs that differed";
    }
}

}  // namespace
}  // namespace kesmark::test
