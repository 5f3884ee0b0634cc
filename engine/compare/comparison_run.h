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
#include <string>
#include <vector>

#include "engine/compare/filter.h"
#include "engine/compare/host.h"
#include "engine/compare/matching.h"
#include "engine/compare/options.h"
#include "engine/compare/pairing.h"
#include "engine/compare/result_tree.h"
#include "engine/model/hierarchy.h"
#include "engine/model/node_key.h"
#include "engine/model/object_model.h"

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
    // Filter patterns given with the run (the command line's), used together
    // with those of the options.
    FilterPatterns filters;
};

enum class RunOutcome {
    Done,     // ran to its end
    Stopped,  // cancelled, or stopped after a reported failure
};

// The text of the open-failure message for a database name.
std::string OpenFailureMessage(const std::string& databaseName, const DbError& error);

// Opens both databases of `inputs` through `opener`, database 1 first. When
// one cannot be opened, shows its OpenFailureMessage through `host` (the
// one report of the failure), closes database 1 if it was open, and returns
// the message; nullopt when both are open.
std::optional<std::string> OpenBothDatabases(const DatabaseOpener& opener, const RunInputs& inputs,
                                             Host& host, std::unique_ptr<Database>& db1,
                                             std::unique_ptr<Database>& db2);

class ComparisonRun {
  public:
    // `options`, `tree` and `host` are not owned and must outlive the run.
    ComparisonRun(RunInputs inputs, const ComparisonOptions& options, ResultTree& tree, Host& host,
                  DatabaseOpener opener);
    ~ComparisonRun();
    ComparisonRun(const ComparisonRun&) = delete;
    ComparisonRun& operator=(const ComparisonRun&) = delete;

    // Runs the whole comparison: opens both databases, compares their own
    // properties, adds the root node, runs the phases whose Compare flag is
    // set (tables, queries, relations, containers) and closes both databases.
    // Failures are shown once through the host. After Done, Same() tells
    // whether any difference was found.
    //
    // A run that stops (cancelled, or after a failure) leaves no object
    // looking compared that was not: every node added with its same picture
    // whose comparison did not finish takes the not-compared picture (the
    // differs picture when a difference was found in it before the stop), and
    // the root takes the incomplete picture; the root is added for that when
    // the run stopped after opening both databases but before adding it.
    RunOutcome RunComparison();
    bool Same() const { return same_; }
    // The description of the failure that stopped the run (for an open
    // failure, its first line); empty when the run was not stopped by one.
    const std::string& Failure() const { return failure_; }
    // After both databases opened: whether they are of the same kind, so
    // that the Engine-list properties were compared.
    bool SameKind() const { return sameKind_; }
    // Record pairs compared by the data comparison so far.
    std::int64_t RecordsCompared() const { return recordsCompared_; }

  private:
    bool OpenBothDatabases();
    // Builds the filter from the options' and the inputs' patterns; shows why
    // and returns false when a pattern is not valid.
    bool BuildFilter();
    void SetStatus(std::string_view text);
    void SetProgress(int position);
    // Yields to the host and tells whether the user asked to cancel.
    bool YieldAndCheckCancel();
    // Shows a failure once (nothing for an empty description) and keeps the
    // first one as the reason of the stop.
    void ReportError(const DbError& error);
    // The end of a stopped run: the incomplete root, databases released.
    RunOutcome Stopped();
    // Marks what a stopped walk leaves unfinished among its common objects
    // `common`: the one at `current` (differs when `currentSame` was cleared,
    // clearing `ownerSame` too, else not compared) and every one after it.
    void MarkUnfinished(Level level, const NodeKey& owner, const std::vector<MemberPair>& common,
                        std::size_t current, bool currentSame, bool& ownerSame);
    void LoadSkipList(Level level);

    // The database phase: the two databases' own properties.
    bool CompareDatabaseProperties(bool& same, std::vector<PropertyDifference>& differences);
    // The walk of `level` over the collections of `object1` and `object2`,
    // the objects at `owner` (the databases for the root key) and at
    // `owner2` in database 2 (the same key, unless a member on the way was
    // paired under another name): one pattern for every level, with the
    // particular rules the hierarchy names for it. The walk holds the objects
    // it compares only while it compares them.
    bool Walk(Level level, const NodeKey& owner, const NodeKey& owner2, DbObject& object1,
              DbObject& object2, bool& ownerSame);
    // Pairs the members of two collections (PairMembers): adds one node per
    // pair, keyed by database 1's name (same picture for a member on both
    // sides, differs picture otherwise), clears `same` for a member on one
    // side only, and leaves the pairs of members on both sides, in node
    // order, in `common`. A member whose key the filter leaves out is only
    // counted: no node, no difference, not in `common`.
    bool CompareCollections(Level level, const NodeKey& owner, DbObject& owner1, DbObject& owner2,
                            std::vector<MemberPair>& common, bool& same);
    // Compares two Properties collections under the current skip list and
    // `rules`; clears `same` at the first difference and goes on to the end,
    // appending every differing property to `differences` in ascending
    // ordinal order of name. A value that cannot be read counts as a
    // difference and does not stop the comparison.
    bool CompareProperties(const Properties& properties1, const Properties& properties2,
                           const EqualityRules& rules, bool& same,
                           std::vector<PropertyDifference>& differences);
    // The stored values of one field: the first differing record becomes a
    // node under the field. `data` is the table's one pass over all its
    // compared fields; the first field to ask runs it and, when the rows were
    // paired by key, adds the rows that differ under the table (clearing
    // `tableSame` when there are any).
    bool CompareFieldData(TableDataComparison& data, bool& dataRan, const NodeKey& field,
                          bool& same, bool& tableSame);
    // The nodes of the rows a pass by key found different, under the table.
    void AddRowNodes(const TableDataComparison& data, const NodeKey& table, bool& tableSame);
    // Replaces database 2 with a fresh Database object: one sharing the open
    // database's state where the backend offers it (Database::OpenAgain),
    // else one opened as OpenBothDatabases opened it. Throws DbError when it
    // cannot be opened.
    void ReopenDatabase2();

    RunInputs inputs_;
    const ComparisonOptions& options_;  // Not owned.
    ResultTree& tree_;                  // Not owned.
    Host& host_;                        // Not owned.
    DatabaseOpener opener_;
    SkipList skipList_;
    NodeFilter filter_;
    std::unique_ptr<Database> db1_;
    std::unique_ptr<Database> db2_;
    bool same_ = true;
    bool databasesOpen_ = false;  // both opened: a stop leaves an incomplete root
    bool rootAdded_ = false;
    std::string failure_;
    bool sameKind_ = true;
    EqualityRules rules_;  // for every comparison of the run, set once both databases are open
    std::int64_t recordsCompared_ = 0;
};

// A DbError for an unexpected failure (a standard exception) inside the run.
DbError AsDbError(const std::exception& e);

}  // namespace kesmark
