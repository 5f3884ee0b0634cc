#pragma once

// One comparison run: opens the two databases, compares their own
// properties, walks tables, queries, relations and containers as the Compare
// flags of the settings say, and leaves the outcome as nodes of a result tree.
//
// The state that a run needs (the current skip list, the two open databases,
// the switches) lives in the run object, so two runs, or a run and a result
// view, never share a skip list. The run reaches the outside only through the
// ResultTree and Host it is given.
//
// Every comparison operation returns true when it ran to its end (whether or
// not it found differences) and false when it was cancelled or stopped after a
// failure it has already reported once through Host::ShowMessage. Equality
// travels only through the `same` flags, which operations only ever clear.

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/host.h"
#include "engine/object_model.h"
#include "engine/result_tree.h"
#include "engine/schema_walks.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"

namespace kesmark {

class TableDataComparison;

// Opens one side of a comparison from a database name and a connect string.
using DatabaseOpener =
    std::function<std::unique_ptr<Database>(const std::string& name, const std::string& connect)>;

// What a run compares: each side's name and connect string, and the switches.
struct RunInputs {
    std::string database1;
    std::string connect1;
    std::string database2;
    std::string connect2;
    ComparisonSwitches switches;
};

enum class RunOutcome {
    Done,     // ran to its end
    Stopped,  // cancelled, or stopped after a reported failure
};

// The text of the open-failure message for a database name.
std::string OpenFailureMessage(const std::string& databaseName, const DbError& error);

// The node key prefix of a collection's members under an owner key
// ("TableDefs[" at the top, "TableDefs[T].Fields[" below a table).
std::string MemberKeyPrefix(std::string_view ownerKey, std::string_view collection);

class ComparisonRun {
  public:
    // `settings`, `tree` and `host` are not owned and must outlive the run.
    ComparisonRun(RunInputs inputs, const IniFile& settings, ResultTree& tree, Host& host,
                  DatabaseOpener opener);
    ~ComparisonRun();
    ComparisonRun(const ComparisonRun&) = delete;
    ComparisonRun& operator=(const ComparisonRun&) = delete;

    // Runs the whole comparison. After Done, Same() tells whether any
    // difference was found.
    RunOutcome RunComparison();
    bool Same() const { return same_; }
    // After a stopped run, the keys of the nodes whose comparison did not run
    // to its end, sorted: the root, and each object found in both databases
    // whose own walk had begun or was still to come. Their pictures say
    // "same" only because no difference had been found yet. Empty after Done.
    std::vector<std::string> UnfinishedKeys() const;

    // Opens both databases; on failure shows the open-failure message once,
    // closes database 1 if it was open, and returns false.
    bool OpenBothDatabases(std::unique_ptr<Database>& db1, std::unique_ptr<Database>& db2);

    // Status and progress of the run, through the host.
    void SetStatus(std::string_view text);
    void SetProgress(int position);

    // The database phase: the two databases' own properties.
    bool CompareDatabaseProperties(bool& same);

    // Matches two collections by name: adds one node per member (same image
    // for a name on both sides, differs image otherwise), clears `same` for a
    // name on one side only, and leaves the names on both sides, sorted, in
    // `common`. `parentKey` empty adds top-level nodes.
    bool CompareCollections(std::string_view keyPrefix, std::string_view keySuffix,
                            Collection& collection1, Collection& collection2,
                            std::vector<std::string>& common, std::string_view parentKey,
                            int sameImage, int differsImage, bool& same);

    // Compares two Properties collections under the current skip list; clears
    // `same` at the first difference. A value that cannot be read counts as a
    // difference and does not stop the comparison.
    bool CompareProperties(const Properties& properties1, const Properties& properties2,
                           bool& same);

    // Replaces the run's current skip list with the lists for `tag`.
    void LoadSkipList(std::string_view tag);
    const SkipList& CurrentSkipList() const { return skipList_; }

    // The schema phases.
    bool CompareTables(bool& same);
    bool CompareQueries(bool& same);
    bool CompareRelations(bool& same);
    bool CompareContainers(bool& same);

    // The nested walks, each for one owner object (see schema_walks.h).
    bool CompareTableFields(const std::string& table, bool& same);
    bool CompareIndexes(const std::string& table, bool& same);
    bool CompareIndexFields(const std::string& table, const std::string& index, bool& same);
    bool CompareQueryFields(const std::string& query, bool& same);
    bool CompareParameters(const std::string& query, bool& same);
    bool CompareRelationFields(const std::string& relation, bool& same);
    bool CompareDocuments(const std::string& container, bool& same);

    // The one walk pattern behind all of the walks above: `kind` over the
    // collection of the object at `owner` (the database for an empty path).
    bool Walk(WalkKind kind, const ObjectPath& owner, bool& ownerSame);

    // The data comparison of one field of one table: records matched by
    // position, the first differing record becomes a node under the field.
    // The first call for a table reads the table once for every field named
    // by PrepareTableData (see table_data.h); later calls for the same table
    // use that pass.
    bool CompareFieldData(const std::string& table, const std::string& field, bool& same);
    // Names the fields of `table` whose data the walk is about to compare,
    // and the rows both databases count in it when known.
    void PrepareTableData(const std::string& table, std::vector<std::string> fields,
                          std::optional<std::int64_t> expectedRows = std::nullopt);
    // Record pairs compared by the data comparison so far.
    std::int64_t RecordsCompared() const { return recordsCompared_; }

    // Shows a failure once (nothing for an empty description).
    void ReportError(const DbError& error);

    Database& Database1() { return *db1_; }
    Database& Database2() { return *db2_; }
    const RunInputs& Inputs() const { return inputs_; }
    const IniFile& Settings() const { return settings_; }
    ResultTree& Tree() { return tree_; }
    Host& HostInterface() { return host_; }

    // Yields to the host and tells whether the user asked to cancel.
    bool YieldAndCheckCancel();

    // Replaces database 2 with a fresh Database object: one sharing the open
    // database's state where the backend offers it (Database::OpenAgain),
    // else one opened as OpenBothDatabases opened it. Throws DbError when it
    // cannot be opened.
    void ReopenDatabase2();

  private:
    RunInputs inputs_;
    const IniFile& settings_;  // Not owned.
    ResultTree& tree_;         // Not owned.
    Host& host_;               // Not owned.
    DatabaseOpener opener_;
    SkipList skipList_;
    std::unique_ptr<Database> db1_;
    std::unique_ptr<Database> db2_;
    bool same_ = true;
    // Nodes added with the same picture whose comparison has not ended.
    std::set<std::string, std::less<>> unfinished_;
    std::unique_ptr<TableDataComparison> tableData_;
    std::string pendingDataTable_;
    std::vector<std::string> pendingDataFields_;
    std::optional<std::int64_t> pendingExpectedRows_;
    std::int64_t recordsCompared_ = 0;
};

// A DbError for an unexpected failure (a standard exception) inside the run.
DbError AsDbError(const std::exception& e);

}  // namespace kesmark
