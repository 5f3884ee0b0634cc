#include "engine/sync/sync_script.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/model/dao.h"
#include "engine/model/node_key.h"
#include "engine/model/text.h"
#include "engine/sync/schema.h"
#include "engine/sync/script_out.h"
#include "engine/sync/sql_dialect.h"
#include "engine/sync/table_rows.h"

namespace kesmark::sync {

namespace {

bool InPrimaryKey(const Table& table, const std::string& column) {
    return std::any_of(table.indexes.begin(), table.indexes.end(), [&](const Index& index) {
        return index.primary &&
               std::find(index.fields.begin(), index.fields.end(), column) != index.fields.end();
    });
}

// Leaves the indexes of `table1` and of its partner `table2` (null when
// database 2 has none) that the comparison does not look at as database 2
// has them, once their details are loaded. With `constraintIndexesStay`
// (SQLite), the indexes a table's constraints make stay, since its
// statement holds them.
void RestrictIndexes(const Table& table1, const Table* table2, const SyncScope& scope,
                     bool constraintIndexesStay) {
    auto outOfScope = [&](const Index& index) {
        if (index.primary || (constraintIndexesStay && index.sql.empty())) {
            return false;
        }
        NodeKey key;
        const bool admitted =
            !NodeKey::Parse(IndexKey(table1.name, index.name), key) || scope.filter.Admits(key);
        return !scope.indexes || !admitted;
    };
    std::erase_if(table1.indexes, outOfScope);
    if (table2) {
        for (const Index& index : table2->indexes) {
            if (outOfScope(index)) {
                table1.indexes.push_back(index);
            }
        }
    }
}

// The columns and indexes of a table of database 1 and of its partner in
// database 2 (none: null), loaded for as long as this lives, the indexes
// restricted to the scope.
class PairDetails {
  public:
    PairDetails(Database& db1, const Table& table1, Database& db2, const Table* table2,
                const SyncScope& scope, bool constraintIndexesStay)
        : details1_(db1, table1) {
        if (table2) {
            details2_.emplace(db2, *table2);
        }
        RestrictIndexes(table1, table2, scope, constraintIndexesStay);
    }

  private:
    TableDetails details1_;
    std::optional<TableDetails> details2_;
};

// The rows of every table of database 1 that the target has (or gets from
// the script), in database 1's order. `filled` names the tables the script
// makes empty or new: those get every row of database 1.
bool WriteRows(Database& db1, Database& db2, const SyncRequest& request, const Schema& schema1,
               const Schema& schema2, const std::set<std::string>& filled,
               const std::set<std::string>& skipped, Dialect dialect, ScriptOut& out, Host& host) {
    for (const Table& table1 : schema1.tables) {
        if (skipped.count(table1.name) != 0) {
            continue;
        }
        const Table* table2 = schema2.FindTable(table1.name);
        const bool fill = filled.count(table1.name) != 0;
        if (!table2 && !fill) {
            continue;
        }
        if (!fill && request.findings && request.findings->TableSame(table1.name)) {
            continue;  // the comparison found its rows the same
        }
        host.SetStatusText("Writing the rows of table " + table1.name);
        const PairDetails details(db1, table1, db2, table2, request.scope,
                                  dialect == Dialect::SQLite);
        TableRows rows;
        rows.table = table1.name;
        rows.target = table2 ? TargetName(*table2, dialect) : TargetName(table1, dialect);
        rows.byMeaning = request.byMeaning;
        for (const Column& column : table1.columns) {
            if (!column.Writable()) {
                continue;
            }
            const Column* column2 = table2 ? table2->FindColumn(column.name) : nullptr;
            if (dialect == Dialect::Standard && !column2) {
                continue;  // the script cannot add it: listed as not expressible
            }
            rows.columns.push_back(column.name);
            // SQLite keeps a copied value under the new type's affinity,
            // which changes its storage class but not what it compares as.
            const bool inTarget =
                column2 && column2->Writable() &&
                (dialect == Dialect::SQLite || SameColumnType(column, *column2, dialect));
            rows.inTarget.push_back(inTarget);
            // A column the script adds without a default holds Null; so does
            // one PostgreSQL retypes without its values.
            const bool retypedWithoutValues = dialect == Dialect::PostgreSQL && column2 &&
                                              !inTarget && !InPrimaryKey(*table2, column.name);
            const bool addedEmpty =
                !column2 && column.defaultValue.empty() && !column.autoIncrement;
            rows.nullInTarget.push_back(!inTarget && (addedEmpty || retypedWithoutValues));
        }
        if (fill) {
            rows.mode = TableRows::Mode::Fill;
        } else {
            rows.table2 = table2->name;
            const auto key = SharedKey(db1, db2, table1.name);
            const bool keyWritten =
                key && std::all_of(key->fields.begin(), key->fields.end(), [&](const auto& f) {
                    const Column* c = table1.FindColumn(f);
                    return c && c->Writable();
                });
            if (keyWritten) {
                rows.mode = TableRows::Mode::ByKey;
                rows.keyFields = key->fields;
                rows.keyFields2 = key->fields;
                const bool allInTarget = std::all_of(rows.inTarget.begin(), rows.inTarget.end(),
                                                     [](bool b) { return b; });
                if (request.findings && allInTarget && !request.byMeaning) {
                    rows.found = request.findings->Rows(table1.name);
                    for (const auto& field : key->fields) {
                        rows.keyTypes1.push_back(table1.FindColumn(field)->type);
                        const Column* column2 = table2->FindColumn(field);
                        rows.keyTypes2.push_back(column2 ? column2->type : dao::kText);
                    }
                }
            } else {
                rows.mode = TableRows::Mode::Replace;
            }
        }
        if (!WriteTableRows(db1, db2, rows, out, host)) {
            return false;
        }
    }
    return true;
}

// Leaves out of both schemas what the comparison does not look at, so that
// the script leaves it as database 2 has it: tables out of scope go from
// both; a view, foreign key or trigger out of scope is database 2's own on
// both sides (or none). Indexes: RestrictIndexes, once a table's are read.
void Restrict(Schema& schema1, Schema& schema2, const SyncScope& scope) {
    const NodeFilter& filter = scope.filter;
    auto admitted = [&](const std::string& key) {
        NodeKey parsed;
        return !NodeKey::Parse(key, parsed) || filter.Admits(parsed);
    };
    for (Schema* schema : {&schema1, &schema2}) {
        std::erase_if(schema->tables, [&](const Table& table) {
            return !scope.tables || !admitted(TableKey(table.name));
        });
    }
    // Database 1's members of `list1` out of scope give way to database 2's.
    auto keepSecond = [](auto& list1, const auto& list2, auto outOfScope) {
        std::erase_if(list1, outOfScope);
        for (const auto& item : list2) {
            if (outOfScope(item)) {
                list1.push_back(item);
            }
        }
    };
    keepSecond(schema1.views, schema2.views,
               [&](const View& view) { return !scope.views || !admitted(QueryKey(view.name)); });
    keepSecond(schema1.relations, schema2.relations, [&](const Relation& relation) {
        return !scope.relations || !admitted(RelationKey(relation.name));
    });
    keepSecond(schema1.triggers, schema2.triggers, [&](const Trigger& trigger) {
        return !scope.triggers || !admitted(TriggerKey(trigger.name));
    });
}

// ---- SQLite targets --------------------------------------------------------

// SQLite's own table of the numbers AUTOINCREMENT tables last gave.
constexpr std::string_view kSequenceTable = "sqlite_sequence";

// A name for the old table of a rebuild that neither database uses.
std::string FreeName(const std::string& base, const Schema& schema1, const Schema& schema2) {
    std::string name = base;
    for (int n = 2; schema1.HasName(name) || schema2.HasName(name); ++n) {
        name = base + "_" + std::to_string(n);
    }
    return name;
}

// Whether the rows of database 2's `table2` can be copied into the table
// rebuilt as database 1's `table1` and then be matched by key: the two share
// a key of unchanged columns, and no new rule of table 1 (a column that may
// not be Null, a unique constraint, a check) can refuse a copied row.
// Otherwise the rebuilt table takes database 1's rows whole.
bool CopyKeepsRows(Database& db1, Database& db2, const Table& table1, const Table& table2) {
    const PairDetails details(db1, table1, db2, &table2, SyncScope{}, true);
    if (UpperAscii(table1.sql).find("CHECK") != std::string::npos) {
        return false;
    }
    std::optional<kesmark::TableKey> key;
    try {
        key = SharedKey(db1, db2, table1.name);
    } catch (const DbError&) {
        return false;
    }
    if (!key) {
        return false;
    }
    for (const auto& field : key->fields) {
        const Column* column1 = table1.FindColumn(field);
        const Column* column2 = table2.FindColumn(field);
        if (!column1 || !column2 || !column1->Writable() ||
            !SameColumnType(*column1, *column2, Dialect::SQLite)) {
            return false;
        }
    }
    for (const Column& column1 : table1.columns) {
        const Column* column2 = table2.FindColumn(column1.name);
        if (!column1.Writable() || !column1.required) {
            continue;
        }
        // Where database 2 has no value, the copy gives the default.
        if (column1.defaultValue.empty() && !(column2 && column2->required)) {
            return false;
        }
    }
    for (const Index& index1 : table1.indexes) {
        if (!index1.sql.empty() || !index1.unique || index1.primary) {
            continue;
        }
        const bool kept =
            std::any_of(table2.indexes.begin(), table2.indexes.end(), [&](const Index& index2) {
                return index2.unique && index2.sql.empty() && index2.fields == index1.fields;
            });
        if (!kept) {
            return false;
        }
    }
    return true;
}

// Whether two tables have the same columns by name, in the same order.
bool SameColumnNames(const Table& table1, const Table& table2) {
    return std::equal(table1.columns.begin(), table1.columns.end(), table2.columns.begin(),
                      table2.columns.end(),
                      [](const Column& a, const Column& b) { return a.name == b.name; });
}

bool WriteSqlite(Database& db1, Database& db2, const SyncRequest& request, ScriptOut& out,
                 Host& host) {
    Schema schema1 = ReadSchema(db1);
    Schema schema2 = ReadSchema(db2);
    Restrict(schema1, schema2, request.scope);
    // Statements are database 1's own text only when it is a SQLite file.
    const bool ownText = db1.Kind().backend == "SQLite";

    std::vector<const Table*> dropped;  // tables only in database 2
    std::vector<const Table*> created;  // tables only in database 1
    std::vector<const Table*> rebuilt;  // tables whose statement differs
    std::set<std::string> filled;       // tables that get every row of database 1
    std::set<std::string> skipped;      // tables whose rows the script leaves alone
    for (const Table& table2 : schema2.tables) {
        if (!schema1.FindTable(table2.name)) {
            if (table2.system) {
                out.NotExpressible(TableKey(table2.name), "a table SQLite keeps for itself");
            } else {
                dropped.push_back(&table2);
            }
        }
    }
    for (const Table& table1 : schema1.tables) {
        const Table* table2 = schema2.FindTable(table1.name);
        const bool virtualTable = table1.type == "virtual" || table1.type == "shadow";
        if (virtualTable || (table2 && (table2->type == "virtual" || table2->type == "shadow"))) {
            skipped.insert(table1.name);
            if (!table2 || table2->sql != table1.sql) {
                out.NotExpressible(TableKey(table1.name),
                                   "a virtual table and its shadow tables belong to its module");
            }
            continue;
        }
        if (table1.system) {
            if (!table2 && table1.name != kSequenceTable) {
                out.NotExpressible(TableKey(table1.name), "a table SQLite keeps for itself");
                skipped.insert(table1.name);
            }
            continue;
        }
        if (table2 && table2->sql == table1.sql) {
            continue;
        }
        if (!ownText) {
            // From another engine the rows can still go into a table with
            // the same columns; the table itself cannot be written.
            if (table2) {
                const PairDetails details(db1, table1, db2, table2, request.scope, true);
                if (SameColumnNames(table1, *table2)) {
                    continue;
                }
            }
            out.NotExpressible(
                TableKey(table1.name),
                "database 1 is not a SQLite file, so its CREATE TABLE is not at hand");
            skipped.insert(table1.name);
            continue;
        }
        (table2 ? rebuilt : created).push_back(&table1);
        if (!table2 || (request.rows && !CopyKeepsRows(db1, db2, table1, *table2))) {
            filled.insert(table1.name);
        }
    }
    if (!request.rows) {
        // Without the rows, a rebuilt table keeps its own; a column that may
        // not be Null and has no default cannot take them where they are
        // Null, or where it is new.
        for (const Table* table1 : rebuilt) {
            const Table& table2 = *schema2.FindTable(table1->name);
            const PairDetails details(db1, *table1, db2, &table2, request.scope, true);
            for (const Column& column : table1->columns) {
                const Column* column2 = table2.FindColumn(column.name);
                if (column.Writable() && column.required && column.defaultValue.empty() &&
                    !column.primaryKey && (!column2 || !column2->required)) {
                    out.NotExpressible(FieldKey(table1->name, column.name),
                                       "a column that may not be Null and has no default "
                                       "needs the rows of database 1 (compare with data)");
                }
            }
        }
    }
    auto changedTable = [&](const std::string& name) {
        const auto has = [&](const std::vector<const Table*>& list) {
            return std::any_of(list.begin(), list.end(),
                               [&](const Table* t) { return t->name == name; });
        };
        return has(dropped) || has(rebuilt);
    };

    // Triggers: those that differ or go, those on a table that is dropped
    // or rebuilt, and with the rows every trigger on a table (so that none
    // fires while the rows are written) are dropped first and made again
    // at the end. From another engine, database 1's statements cannot be
    // used: database 2's own triggers and views stay as they are.
    const char* const noText = "database 1 is not a SQLite file, so its statement is not at hand";
    std::vector<const Trigger*> triggersDropped;
    std::vector<std::string> triggersCreated;
    for (const Trigger& trigger2 : schema2.triggers) {
        const Trigger* trigger1 = schema1.FindTrigger(trigger2.name);
        bool differs = !trigger1 || trigger1->sql != trigger2.sql;
        if (differs && trigger1 && !ownText) {
            out.NotExpressible(TriggerKey(trigger2.name), noText);
            differs = false;
        }
        const bool onTable = schema2.FindTable(trigger2.table) != nullptr;
        if (differs || changedTable(trigger2.table) || (request.rows && onTable)) {
            triggersDropped.push_back(&trigger2);
            if (trigger1) {
                triggersCreated.push_back(ownText ? trigger1->sql : trigger2.sql);
            }
        }
    }
    for (const Trigger& trigger1 : schema1.triggers) {
        if (schema2.FindTrigger(trigger1.name)) {
            continue;
        }
        if (ownText) {
            triggersCreated.push_back(trigger1.sql);
        } else {
            out.NotExpressible(TriggerKey(trigger1.name), noText);
        }
    }
    std::vector<const View*> viewsDropped;
    std::vector<const View*> viewsCreated;
    for (const View& view2 : schema2.views) {
        const View* view1 = schema1.FindView(view2.name);
        if (view1 && view1->sql == view2.sql) {
            continue;
        }
        if (view1 && !ownText) {
            out.NotExpressible(QueryKey(view2.name), noText);
            continue;
        }
        viewsDropped.push_back(&view2);
        if (view1) {
            viewsCreated.push_back(view1);
        }
    }
    for (const View& view1 : schema1.views) {
        if (schema2.FindView(view1.name)) {
            continue;
        }
        if (ownText) {
            viewsCreated.push_back(&view1);
        } else {
            out.NotExpressible(QueryKey(view1.name), noText);
        }
    }
    // Indexes of the tables both keep: those with a statement of their own
    // (not those a constraint of the table makes).
    std::vector<std::string> indexesDropped;  // their names
    std::vector<std::string> indexesCreated;  // their statements
    for (const Table& table1 : schema1.tables) {
        const Table* table2 = schema2.FindTable(table1.name);
        const PairDetails details(db1, table1, db2, table2, request.scope, true);
        const bool remade = filled.count(table1.name) != 0 ||
                            std::find(rebuilt.begin(), rebuilt.end(), &table1) != rebuilt.end() ||
                            std::find(created.begin(), created.end(), &table1) != created.end();
        for (const Index& index1 : table1.indexes) {
            if (index1.sql.empty()) {
                continue;
            }
            const Index* index2 = table2 && !remade ? table2->FindIndex(index1.name) : nullptr;
            if (!index2 || index2->sql != index1.sql) {
                indexesCreated.push_back(index1.sql);
            }
        }
        if (!table2 || remade || !ownText) {
            continue;
        }
        for (const Index& index2 : table2->indexes) {
            if (index2.sql.empty()) {
                continue;
            }
            const Index* index1 = table1.FindIndex(index2.name);
            if (!index1 || index1->sql != index2.sql) {
                indexesDropped.push_back(index2.name);
            }
        }
    }

    out.Statement("PRAGMA foreign_keys = OFF");
    // A table renamed for its rebuild takes no view or trigger of another
    // table with it.
    out.Statement("PRAGMA legacy_alter_table = ON");
    out.Statement("BEGIN");
    for (const Trigger* trigger : triggersDropped) {
        out.Statement("DROP TRIGGER IF EXISTS " + QuoteIdentifier(trigger->name));
    }
    for (const View* view : viewsDropped) {
        out.Statement("DROP VIEW " + QuoteIdentifier(view->name));
    }
    for (const std::string& index : indexesDropped) {
        out.Statement("DROP INDEX " + QuoteIdentifier(index));
    }
    for (const Table* table : dropped) {
        out.Statement("DROP TABLE " + QuoteIdentifier(table->name));
    }
    for (const Table* table1 : rebuilt) {
        const Table& table2 = *schema2.FindTable(table1->name);
        const PairDetails details(db1, *table1, db2, &table2, request.scope, true);
        const std::string old = FreeName("kesmark_old_" + table1->name, schema1, schema2);
        out.Comment("table " + QuoteIdentifier(table1->name) + " rebuilt with its new statement");
        out.Statement("ALTER TABLE " + QuoteIdentifier(table1->name) + " RENAME TO " +
                      QuoteIdentifier(old));
        out.Statement(table1->sql);
        if (filled.count(table1->name) == 0) {
            std::string columns;
            std::string values;
            for (const Column& column : table1->columns) {
                const Column* column2 = table2.FindColumn(column.name);
                if (!column.Writable() || !column2 || !column2->Writable()) {
                    continue;
                }
                const std::string quoted = QuoteIdentifier(column.name);
                columns += (columns.empty() ? "" : ", ") + quoted;
                // A column that now needs a value takes its default where
                // database 2 has none.
                const bool needsDefault =
                    column.required && !column2->required && !column.defaultValue.empty();
                values += (values.empty() ? "" : ", ") +
                          (needsDefault ? "COALESCE(" + quoted + ", " + column.defaultValue + ")"
                                        : quoted);
            }
            if (!columns.empty()) {
                out.Statement("INSERT INTO " + QuoteIdentifier(table1->name) + " (" + columns +
                              ") SELECT " + values + " FROM " + QuoteIdentifier(old));
            }
        }
        out.Statement("DROP TABLE " + QuoteIdentifier(old));
    }
    for (const Table* table : created) {
        out.Statement(table->sql);
    }
    if (request.rows && request.scope.fields) {
        // The numbering of AUTOINCREMENT tables follows every row written,
        // so it comes last, whole.
        skipped.insert(std::string(kSequenceTable));
        if (!WriteRows(db1, db2, request, schema1, schema2, filled, skipped, Dialect::SQLite, out,
                       host)) {
            return false;
        }
        if (const Table* sequence = schema1.FindTable(std::string(kSequenceTable))) {
            out.Statement("DELETE FROM " + QuoteIdentifier(kSequenceTable));
            const TableDetails details(db1, *sequence);
            TableRows rows;
            rows.table = sequence->name;
            for (const Column& column : sequence->columns) {
                rows.columns.push_back(column.name);
            }
            if (!WriteTableRows(db1, db2, rows, out, host)) {
                return false;
            }
        }
    }
    for (const std::string& index : indexesCreated) {
        out.Statement(index);
    }
    for (const View* view : viewsCreated) {
        out.Statement(view->sql);
    }
    for (const std::string& trigger : triggersCreated) {
        out.Statement(trigger);
    }
    for (const auto& [name, pragma] :
         {std::pair{"UserVersion", "user_version"}, std::pair{"ApplicationId", "application_id"}}) {
        const auto v1 = schema1.DatabaseProperty(name);
        const auto v2 = schema2.DatabaseProperty(name);
        if (v1 && !VariantEqual(*v1, v2.value_or(Value()))) {
            out.Statement(std::string("PRAGMA ") + pragma + " = " + Literal(*v1, Dialect::SQLite));
        }
    }
    for (const char* name : {"PageSize", "Encoding", "AutoVacuum", "JournalMode"}) {
        const auto v1 = schema1.DatabaseProperty(name);
        const auto v2 = schema2.DatabaseProperty(name);
        if (v1 && v2 && !VariantEqual(*v1, *v2)) {
            out.NotExpressible(std::string("Databases: ") + name,
                               "a setting of the file that a transaction cannot change");
        }
    }
    out.Statement("PRAGMA foreign_key_check");
    out.Statement("COMMIT");
    out.Statement("PRAGMA legacy_alter_table = OFF");
    // Outside the transaction: the file written again without the pages the
    // script freed, so that its page counts follow what it holds.
    out.Comment("the file compacted, so that its page counts follow its content");
    out.Statement("VACUUM");
    return true;
}

// ---- PostgreSQL and other targets -------------------------------------------

// The column's type as the target spells it, from database 1's column.
std::string PostgresType(const Column& column, bool samePostgres) {
    if (samePostgres && !column.typeName.empty()) {
        const std::string type = FoldAsciiCase(column.typeName);
        if ((type == "varchar" || type == "bpchar" || type == "char") && column.precision > 0) {
            return (type == "varchar" ? "varchar(" : "char(") + std::to_string(column.precision) +
                   ")";
        }
        if (type == "numeric" && column.precision > 0) {
            return "numeric(" + std::to_string(column.precision) + ", " +
                   std::to_string(column.scale) + ")";
        }
        return QuoteIdentifier(column.typeName);
    }
    switch (column.type) {
        case dao::kBoolean:
            return "boolean";
        case dao::kByte:
        case dao::kInteger:
            return "smallint";
        case dao::kLong:
            return "integer";
        case dao::kBigInt:
            return "bigint";
        case dao::kSingle:
            return "real";
        case dao::kDouble:
        case dao::kFloat:
            return "double precision";
        case dao::kCurrency:
            return "numeric(19, 4)";
        case dao::kDecimal:
        case dao::kNumeric:
            return "numeric";
        case dao::kDate:
        case dao::kTimeStamp:
            return "timestamp";
        case dao::kTime:
            return "time";
        case dao::kBinary:
        case dao::kVarBinary:
        case dao::kLongBinary:
            return "bytea";
        case dao::kGuid:
            return "uuid";
        default:
            return "text";
    }
}

// A column's default as PostgreSQL reads it. The backend spells defaults
// alike for every engine (a Boolean's as 1 or 0, casts dropped), which
// PostgreSQL reads back as the same expression.
std::string DefaultExpression(const Column& column) {
    if (column.type == dao::kBoolean &&
        (column.defaultValue == "1" || column.defaultValue == "0")) {
        return column.defaultValue == "1" ? "TRUE" : "FALSE";
    }
    return column.defaultValue;
}

bool IsIntegerType(int type) {
    return type == dao::kByte || type == dao::kInteger || type == dao::kLong ||
           type == dao::kBigInt;
}

std::string ColumnDefinition(const Column& column, bool samePostgres) {
    std::string sql = QuoteIdentifier(column.name) + " " + PostgresType(column, samePostgres);
    // Defaults are spelled alike for every engine (see CanonicalDefault),
    // so database 1's serves whatever its engine.
    if (!column.defaultValue.empty()) {
        sql += " DEFAULT " + DefaultExpression(column);
    } else if (column.autoIncrement && IsIntegerType(column.type)) {
        sql += " GENERATED BY DEFAULT AS IDENTITY";
    }
    return sql;
}

std::string NameList(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) {
        text += (text.empty() ? "" : ", ") + QuoteIdentifier(name);
    }
    return text;
}

// The constraint name of a foreign key as the ODBC backend keys it
// ("child.name" when two tables use one name), or nullopt for one the
// database left unnamed.
std::optional<std::string> ConstraintName(const Relation& relation) {
    if (relation.name.find(" -> ") != std::string::npos) {
        return std::nullopt;
    }
    const std::string prefix = relation.foreignTable + ".";
    if (relation.name.rfind(prefix, 0) == 0) {
        return relation.name.substr(prefix.size());
    }
    return relation.name;
}

// The name a foreign key of database 1 gets: its own, else the one
// PostgreSQL itself would give it ("orders_customer_id_fkey").
std::string NewConstraintName(const Relation& relation) {
    if (const auto name = ConstraintName(relation)) {
        return *name;
    }
    std::string name = relation.foreignTable;
    for (const auto& column : relation.foreignColumns) {
        name += "_" + column;
    }
    return name + "_fkey";
}

bool SameRelation(const Relation& a, const Relation& b) {
    return a.table == b.table && a.foreignTable == b.foreignTable && a.columns == b.columns &&
           a.foreignColumns == b.foreignColumns && a.onUpdate == b.onUpdate &&
           a.onDelete == b.onDelete;
}

std::string AddForeignKey(const Relation& relation, const Schema& schema1, Dialect dialect) {
    const Table* child = schema1.FindTable(relation.foreignTable);
    const Table* parent = schema1.FindTable(relation.table);
    std::string sql =
        "ALTER TABLE " +
        (child ? TargetName(*child, dialect) : QuoteIdentifier(relation.foreignTable)) +
        " ADD CONSTRAINT " + QuoteIdentifier(NewConstraintName(relation)) + " FOREIGN KEY (" +
        NameList(relation.foreignColumns) + ") REFERENCES " +
        (parent ? TargetName(*parent, dialect) : QuoteIdentifier(relation.table)) + " (" +
        NameList(relation.columns) + ")";
    for (const auto& [what, action] : {std::pair{" ON UPDATE ", relation.onUpdate},
                                       std::pair{" ON DELETE ", relation.onDelete}}) {
        const std::string upper = UpperAscii(action);
        if (upper == "CASCADE" || upper == "SET NULL" || upper == "SET DEFAULT" ||
            upper == "RESTRICT") {
            sql += what + upper;
        }
    }
    return sql;
}

std::string CreateIndex(const Table& table, const Index& index, Dialect dialect) {
    std::string keys;
    for (std::size_t k = 0; k < index.fields.size(); ++k) {
        keys += (k ? ", " : "") + QuoteIdentifier(index.fields[k]) +
                (index.descending[k] ? " DESC" : "");
    }
    return std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " +
           QuoteIdentifier(index.name) + " ON " + TargetName(table, dialect) + " (" + keys + ")";
}

// Drops a PostgreSQL index, or the unique constraint that owns it: the
// catalog tells which, as ODBC lists both alike.
std::string DropIndex(const Table& table, const Index& index) {
    const std::string target = TargetName(table, Dialect::PostgreSQL);
    const std::string name = QuoteIdentifier(index.name);
    const std::string qualified =
        table.schemaName.empty() ? name : QuoteIdentifier(table.schemaName) + "." + name;
    return "DO $kesmark$ BEGIN IF EXISTS (SELECT 1 FROM pg_constraint WHERE conname = " +
           QuoteText(index.name) + " AND conrelid = " + QuoteText(target) +
           "::regclass) THEN ALTER TABLE " + target + " DROP CONSTRAINT " + name +
           "; ELSE DROP INDEX " + qualified + "; END IF; END $kesmark$";
}

bool SameIndex(const Index& a, const Index& b) {
    return a.unique == b.unique && a.primary == b.primary && a.fields == b.fields &&
           a.descending == b.descending && a.condition == b.condition;
}

// The statements that make the columns of database 2's `table2` those of
// database 1's `table1`: into `tables` what runs before the rows, into
// `last` what runs after them (NOT NULL, which the rows may need to fill).
void WriteColumnChanges(const Table& table1, const Table& table2, const SyncRequest& request,
                        Dialect dialect, bool samePostgres, ScriptOut& out,
                        std::vector<std::string>& tables, std::vector<std::string>& last) {
    const bool postgres = dialect == Dialect::PostgreSQL;
    const std::string alter = "ALTER TABLE " + TargetName(table2, dialect) + " ";
    std::vector<std::string> order;  // the columns' order once the script has run
    for (const Column& column2 : table2.columns) {
        if (!table1.FindColumn(column2.name)) {
            if (postgres) {
                tables.push_back(alter + "DROP COLUMN " + QuoteIdentifier(column2.name));
            } else {
                out.NotExpressible(FieldKey(table1.name, column2.name),
                                   "dropping a column of this target");
            }
        } else {
            order.push_back(column2.name);
        }
    }
    for (const Column& column1 : table1.columns) {
        const Column* column2 = table2.FindColumn(column1.name);
        const std::string quoted = QuoteIdentifier(column1.name);
        if (!postgres) {
            if (!column2 || !SameColumnType(column1, *column2, dialect) ||
                column1.required != column2->required) {
                out.NotExpressible(FieldKey(table1.name, column1.name),
                                   "changing the columns of this target");
            }
            continue;
        }
        if (!column2) {
            tables.push_back(alter + "ADD COLUMN " + ColumnDefinition(column1, samePostgres));
            if (column1.required) {
                last.push_back(alter + "ALTER COLUMN " + quoted + " SET NOT NULL");
            }
            order.push_back(column1.name);
            continue;
        }
        bool mayBeNull = !column2->required;
        std::string defaultNow = column2->defaultValue;
        if (!SameColumnType(column1, *column2, dialect)) {
            const std::string type = PostgresType(column1, samePostgres);
            if (!defaultNow.empty()) {
                // A default of the old type may not cast to the new one.
                tables.push_back(alter + "ALTER COLUMN " + quoted + " DROP DEFAULT");
                defaultNow.clear();
            }
            if (request.rows && !InPrimaryKey(table2, column1.name)) {
                // Its values come from database 1 with the rows below: none
                // of database 2's need to fit the new type.
                if (!mayBeNull) {
                    tables.push_back(alter + "ALTER COLUMN " + quoted + " DROP NOT NULL");
                    mayBeNull = true;
                }
                tables.push_back(alter + "ALTER COLUMN " + quoted + " TYPE " + type +
                                 " USING NULL");
            } else {
                tables.push_back(alter + "ALTER COLUMN " + quoted + " TYPE " + type + " USING " +
                                 quoted + "::" + type);
            }
        }
        if (column1.defaultValue != defaultNow) {
            tables.push_back(alter + "ALTER COLUMN " + quoted +
                             (column1.defaultValue.empty()
                                  ? " DROP DEFAULT"
                                  : " SET DEFAULT " + DefaultExpression(column1)));
        }
        if (column1.required && mayBeNull) {
            last.push_back(alter + "ALTER COLUMN " + quoted + " SET NOT NULL");
        } else if (!column1.required && !mayBeNull) {
            tables.push_back(alter + "ALTER COLUMN " + quoted + " DROP NOT NULL");
        }
    }
    std::vector<std::string> order1;
    for (const Column& column1 : table1.columns) {
        order1.push_back(column1.name);
    }
    if (postgres && order != order1) {
        out.NotExpressible(TableKey(table1.name),
                           "PostgreSQL cannot move a column to another place in its table");
    }
}

bool WriteOther(Database& db1, Database& db2, const SyncRequest& request, Dialect dialect,
                ScriptOut& out, Host& host) {
    Schema schema1 = ReadSchema(db1);
    Schema schema2 = ReadSchema(db2);
    Restrict(schema1, schema2, request.scope);
    const bool postgres = dialect == Dialect::PostgreSQL;
    const bool samePostgres = postgres && DialectOf(db1.Kind()) == Dialect::PostgreSQL;
    std::set<std::string> filled;
    std::set<std::string> skipped;

    // Statements in the order they must run: what goes first, the tables,
    // then (after the rows) what needs the rows in place.
    std::vector<std::string> first;
    std::vector<std::string> tables;
    std::vector<std::string> last;

    for (const Table& table2 : schema2.tables) {
        if (table2.system || schema1.FindTable(table2.name)) {
            continue;
        }
        if (postgres) {
            tables.push_back("DROP TABLE " + TargetName(table2, dialect));
        } else {
            out.NotExpressible(TableKey(table2.name), "dropping a table of this target");
        }
    }
    for (const Table& table1 : schema1.tables) {
        if (table1.system) {
            continue;
        }
        const Table* table2 = schema2.FindTable(table1.name);
        const PairDetails details(db1, table1, db2, table2, request.scope, false);
        if (!table2) {
            if (!postgres) {
                out.NotExpressible(TableKey(table1.name), "creating a table of this target");
                skipped.insert(table1.name);
                continue;
            }
            std::string sql = "CREATE TABLE " + TargetName(table1, dialect) + " (";
            bool firstColumn = true;
            for (const Column& column : table1.columns) {
                sql += (firstColumn ? "" : ", ") + ColumnDefinition(column, samePostgres) +
                       (column.required ? " NOT NULL" : "");
                firstColumn = false;
            }
            for (const Index& index : table1.indexes) {
                if (index.primary) {
                    sql += ", PRIMARY KEY (" + NameList(index.fields) + ")";
                } else if (!index.foreign || index.unique) {
                    last.push_back(CreateIndex(table1, index, dialect));
                }
            }
            tables.push_back(sql + ")");
            filled.insert(table1.name);
            continue;
        }
        if (request.scope.fields) {
            WriteColumnChanges(table1, *table2, request, dialect, samePostgres, out, tables, last);
        }
        for (const Index& index2 : table2->indexes) {
            const Index* index1 = table1.FindIndex(index2.name);
            if (index1 && SameIndex(*index1, index2)) {
                continue;
            }
            if (!postgres || index2.primary || (index1 && index1->primary)) {
                out.NotExpressible(IndexKey(table1.name, index2.name),
                                   "changing a primary key or an index of this target");
                continue;
            }
            first.push_back(DropIndex(*table2, index2));
        }
        for (const Index& index1 : table1.indexes) {
            const Index* index2 = table2->FindIndex(index1.name);
            if (index2 && SameIndex(index1, *index2)) {
                continue;
            }
            if (!postgres || index1.primary || (index2 && index2->primary)) {
                if (!index2) {
                    out.NotExpressible(IndexKey(table1.name, index1.name),
                                       "changing a primary key or an index of this target");
                }
                continue;
            }
            if (!index1.condition.empty()) {
                out.NotExpressible(IndexKey(table1.name, index1.name),
                                   "the condition of a partial index is not at hand");
                continue;
            }
            last.push_back(CreateIndex(table1, index1, dialect));
        }
    }
    for (const Relation& relation2 : schema2.relations) {
        const Relation* relation1 = schema1.FindRelation(relation2.name);
        if (relation1 && SameRelation(*relation1, relation2)) {
            continue;
        }
        const auto name = ConstraintName(relation2);
        const Table* child = schema2.FindTable(relation2.foreignTable);
        if (!postgres || !name || !child) {
            out.NotExpressible(RelationKey(relation2.name), "dropping this foreign key");
            continue;
        }
        if (!schema1.FindTable(relation2.foreignTable)) {
            continue;  // goes with its table
        }
        first.push_back("ALTER TABLE " + TargetName(*child, dialect) + " DROP CONSTRAINT " +
                        QuoteIdentifier(*name));
    }
    for (const Relation& relation1 : schema1.relations) {
        const Relation* relation2 = schema2.FindRelation(relation1.name);
        if (relation2 && SameRelation(relation1, *relation2)) {
            continue;
        }
        if (!postgres) {
            out.NotExpressible(RelationKey(relation1.name), "creating this foreign key");
            continue;
        }
        last.push_back(AddForeignKey(relation1, schema1, dialect));
    }
    for (const View& view1 : schema1.views) {
        if (!schema2.FindView(view1.name)) {
            out.NotExpressible(QueryKey(view1.name), "views are not written for this target");
        }
    }
    for (const View& view2 : schema2.views) {
        if (!schema1.FindView(view2.name)) {
            out.NotExpressible(QueryKey(view2.name), "views are not written for this target");
        }
    }

    // SQLite (through its ODBC driver) knows no START TRANSACTION.
    const bool begin = postgres || db2.Kind().system == "SQLite";
    out.Statement(begin ? "BEGIN" : "START TRANSACTION");
    if (postgres) {
        // Foreign keys declared deferrable are checked at the commit, when
        // every row is in place.
        out.Statement("SET CONSTRAINTS ALL DEFERRED");
    }
    for (const auto& sql : first) {
        out.Statement(sql);
    }
    for (const auto& sql : tables) {
        out.Statement(sql);
    }
    if (request.rows && request.scope.fields) {
        if (!WriteRows(db1, db2, request, schema1, schema2, filled, skipped, dialect, out, host)) {
            return false;
        }
    }
    for (const auto& sql : last) {
        out.Statement(sql);
    }
    out.Statement("COMMIT");
    return true;
}

}  // namespace

SyncSummary WriteSyncScript(Database& db1, Database& db2, const SyncRequest& request,
                            std::ostream& out, Host& host) {
    const DatabaseKind target = db2.Kind();
    if (!IsWritableTarget(target)) {
        throw DbError(errors::kNotSupported,
                      "'" + db2.Name() + "': " + target.backend +
                          " files can be read, not written: there is no sync script for them.",
                      "Kesmark");
    }
    const Dialect dialect = DialectOf(target);
    ScriptOut script(out, dialect);
    script.Comment("Kesmark sync script: run against database 2 to make it like database 1.");
    script.Comment(std::string("Target: ") +
                   (dialect == Dialect::SQLite
                        ? "SQLite (run it with: sqlite3 -bail DATABASE2 < SCRIPT)"
                        : (dialect == Dialect::PostgreSQL ? "PostgreSQL" : "standard SQL")) +
                   (request.rows ? "; schema and rows." : "; schema only."));
    script.BlankLine();
    SyncSummary summary;
    summary.completed = dialect == Dialect::SQLite
                            ? WriteSqlite(db1, db2, request, script, host)
                            : WriteOther(db1, db2, request, dialect, script, host);
    summary.statements = script.Statements();
    summary.notExpressible = script.NotExpressibleCount();
    out.flush();
    return summary;
}

}  // namespace kesmark::sync
