#pragma once

// The result view: turns the key of a result-tree node (an object path such
// as "TableDefs[Orders].Indexes[PK].Fields[ID]") back into the object it names
// in each database and lists the two objects' properties side by side.
//
// Every operation that returns a Boolean returns true when it ran to its end
// and false when it stopped after a failure it has already shown once through
// Host::ShowMessage (or after the "Unkown collection" message); callers then
// stop without a second message. Rows written before a failure stay.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/compare/comparison_run.h"
#include "engine/compare/host.h"
#include "engine/compare/matching.h"
#include "engine/compare/pairing.h"
#include "engine/model/hierarchy.h"
#include "engine/model/node_key.h"
#include "engine/model/object_model.h"
#include "view/property_list.h"

namespace kesmark {

// The side an object exists on when it exists on one side only.
enum class Side { Database1, Database2 };

// The display text of a property's value in a compared row. Binary values
// (types 9 and 11) read as their first eleven bytes in decimal, separated by
// one blank, with " ..." appended when there are more ({1, 255, 16} reads
// "1 255 16"); other values as their plain text; Null reads "Null". A long
// text read in pieces shows its first piece and " ...". Throws DbError when
// the value cannot be read.
std::string PropertyValueText(const Property& property);

// The result view of one program: a property list to fill, the databases to
// open and the options to read. The view holds its own skip list, so a
// selection handled while a comparison run is yielding never disturbs the
// run's list.
class ResultView {
  public:
    // `options`, `host` and `list` are not owned and must outlive the view.
    // Of `inputs`, the two names, the two connect strings and the switches
    // are used; they may be replaced between selections with SetInputs.
    ResultView(RunInputs inputs, const ComparisonOptions& options, Host& host, PropertyList& list,
               DatabaseOpener opener);

    // The databases and switches of the next selection (the main window's
    // fields as they stand when a node is selected).
    void SetInputs(RunInputs inputs) { inputs_ = std::move(inputs); }

    // Opens both databases afresh, resolves `key` level by level and appends
    // the rows of the object it names to the property list (which the caller
    // has emptied): side by side when the object exists in both databases,
    // one-sided when it exists in one. The busy pointer shows for the whole
    // call. Returns false after showing one message: the open failure, a
    // failure of a lookup or of the listing, "Unkown collection '<name>'" for
    // a collection name that is not recognised (exact, case-sensitive).
    // Both databases are closed before returning.
    bool ShowNodeProperties(const std::string& key);

    // As ShowNodeProperties, over two databases the caller has opened and
    // keeps open (a report lists many nodes through one pair). The objects
    // on the way to the key and the pairings of their collections are kept
    // for the next call over the same two databases, which mostly lists a
    // node of the same owners (a report lists the nodes in tree order): call
    // Forget before either database is closed.
    bool ListNodeProperties(Database& db1, Database& db2, const std::string& key);

    // Lets go of what ListNodeProperties kept of the databases.
    void Forget();

    // Lists two Properties collections merged by name, in ascending ordinal
    // order of name, one row per distinct name: "skipped" for names on the
    // current skip list (their values are never read), equal or different
    // rows for names on both sides (by the rules of the last selection:
    // values of two kinds of database by meaning, names ignoring letter case
    // where the options say so, the Name of two objects paired by definition
    // equal whatever the two names), "not found" against the plain text of a
    // name on one side. A value that cannot be read gives "Error: " and the
    // failure's description in its cell (both cells for a pair), and the
    // listing goes on.
    bool ListBothSides(const Properties& properties1, const Properties& properties2);

    // Lists the Properties of an object that exists on `side` only: each
    // name against "not found", or "skipped". A value that cannot be read
    // ends the listing with its failure's message.
    bool ListOneSide(Side side, const Properties& properties);

    // The skip list the last listing loaded.
    const SkipList& CurrentSkipList() const { return skipList_; }

  private:
    // Replaces the view's current skip list with the lists for `level`, as
    // the settings say now.
    void LoadSkipList(Level level);
    bool ShowResolved(const std::string& key);
    // Resolves the member of `level` that the reader is at, below the objects
    // `parent1` and `parent2` (at `depth` levels below the databases), and
    // lists it or goes on below it.
    bool ResolveLevel(Level level, std::size_t depth, Database& db1, Database& db2,
                      DbObject& parent1, DbObject& parent2, NodeKeyReader& reader);
    // Lists the pair `object1`, `object2` that the reader's last name
    // resolved to at `level`, or goes on below it.
    bool ListResolved(Level level, std::size_t depth, Database& db1, Database& db2,
                      DbObject& parent1, DbObject& parent2, DbObject& object1, DbObject& object2,
                      NodeKeyReader& reader);
    bool ViewRecords(Database& db1, Database& db2, DbObject& table1, DbObject& table2,
                     DbObject& field1, DbObject& field2, NodeKeyReader& reader);
    // A row named by its key values: every field of both tables' rows side
    // by side, or one-sided when the row is in one database only.
    bool ViewRow(Database& db1, Database& db2, DbObject& table1, DbObject& table2,
                 NodeKeyReader& reader);
    // The rows a table's listing ends with: how its records are paired and,
    // with data comparison on and pairing by key, how many rows are only in
    // database 1, only in database 2, changed and the same (which reads both
    // tables).
    bool ListRowSummary(Database& db1, Database& db2, DbObject& table1, DbObject& table2);
    void ShowUnknownCollection(std::string_view name);
    void ReportFailure(const DbError& error);
    // A row of the listing; `value1` and `value2` are the values behind the
    // cells that show one.
    void AddRow(std::string_view name, std::string_view text1, std::string_view text2, bool differs,
                std::optional<Value> value1 = std::nullopt,
                std::optional<Value> value2 = std::nullopt);
    void AddSkippedRow(std::string_view name);

    RunInputs inputs_;
    const ComparisonOptions& options_;  // Not owned.
    Host& host_;                        // Not owned.
    PropertyList& list_;                // Not owned.
    DatabaseOpener opener_;
    SkipList skipList_;
    bool sameKind_ = true;  // the databases of the selection are of the same kind
    EqualityRules rules_;   // how the selection's values compare

    // One level of the key listed last: the pairing of its owners'
    // collection, and the pair of members it named when both were found.
    struct KeptLevel {
        std::string owner;                             // the key's text before the member's name
        std::optional<std::vector<MemberPair>> pairs;  // nullopt: a collection unreadable
        std::string name;                              // empty: no member kept
        std::unique_ptr<DbObject> object1;
        std::unique_ptr<DbObject> object2;
        bool pairedByDefinition = false;
    };
    const Database* keptDb1_ = nullptr;  // the databases kept_ was read from
    const Database* keptDb2_ = nullptr;
    bool keptIgnoreNameCase_ = false;
    std::string key_;              // the key being listed
    std::vector<KeptLevel> kept_;  // by depth below the databases
};

}  // namespace kesmark
