#include "engine/backends/odbc/odbc_dialect.h"

#include "engine/model/range_sql.h"

namespace kesmark::odbc {

namespace {

// The PostgreSQL driver's own connection attributes (psqlodbc's
// SQL_ATTR_PGOPT_USE_DECLAREFETCH and SQL_ATTR_PGOPT_FETCH).
constexpr SQLINTEGER kUseDeclareFetchAttribute = 65539;
constexpr SQLINTEGER kFetchAttribute = 65541;
// Rows the driver asks the server for at a time when it reads through a
// cursor: a first batch small enough that rows with long values stay small
// in memory; later batches of about kBatchBytes of rows (the driver keeps
// each batch whole, in about three copies), at most kMaxBatchRows, many
// enough that the round trips cost little.
constexpr SQLULEN kFirstBatchRows = 100;
constexpr std::size_t kBatchBytes = 4 << 20;
constexpr std::size_t kMaxBatchRows = 1000;

class PostgresDialectImpl : public Dialect {
  public:
    std::vector<SessionStatement> ReadOnlyStatements() const override {
        return {
            // Set while each statement still commits on its own, so that it
            // covers every transaction that follows, including those begun
            // again after a failed statement.
            {"SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL REPEATABLE READ, "
             "READ ONLY",
             "making the connection read-only"},
            // Rows must come in the same order whichever columns a statement
            // reads (the data comparison reads all of a table's fields at
            // once, the record view one): always scan the table itself, from
            // its first page, never an index.
            {"SET enable_indexscan = off; SET enable_indexonlyscan = off; "
             "SET enable_bitmapscan = off; SET synchronize_seqscans = off",
             "fixing the row order of table scans"},
            // Every statement of a comparison is a scan with a little work a
            // row; compiling it (JIT, on by default since version 12) costs
            // more than it saves: a checksum of 2,000,000 rows took 2.2 s
            // with it and 1.7 s without. Servers before version 11 have no
            // such setting.
            {"SELECT pg_catalog.set_config('jit', 'off', false) FROM pg_catalog.pg_settings "
             "WHERE name = 'jit'",
             "turning off the compilation of statements"},
        };
    }

    bool ReadsInOneTransaction() const override { return true; }

    std::optional<IndexScanSettings> IndexScans() const override {
        return IndexScanSettings{
            "SET enable_indexscan = on; SET enable_indexonlyscan = on; "
            "SET enable_bitmapscan = on",
            "SET enable_indexscan = off; SET enable_indexonlyscan = off; "
            "SET enable_bitmapscan = off"};
    }

    std::optional<std::string_view> DefaultSchemaQuery() const override {
        return "SELECT current_schema()";
    }

    std::optional<std::string_view> ViewDefinitionsQuery() const override {
        return "SELECT schemaname, viewname, definition FROM pg_catalog.pg_views "
               "UNION ALL SELECT schemaname, matviewname, definition "
               "FROM pg_catalog.pg_matviews";
    }

    std::optional<std::string_view> FunctionDefinitionsQuery() const override {
        return "SELECT n.nspname, p.proname, "
               "array_to_string(ARRAY(SELECT t.typname FROM unnest(p.proargtypes::oid[]) "
               "WITH ORDINALITY AS a(type, position) JOIN pg_catalog.pg_type t ON t.oid = a.type "
               "ORDER BY a.position), ','), "
               "CASE WHEN p.prokind IN ('f', 'p', 'w') THEN pg_catalog.pg_get_functiondef(p.oid) "
               "END "
               "FROM pg_catalog.pg_proc p JOIN pg_catalog.pg_namespace n "
               "ON n.oid = p.pronamespace "
               "WHERE n.nspname NOT IN ('pg_catalog', 'information_schema')";
    }

    // The pieces of the canonical row text: integers and text as their own
    // text, floating point numbers by their bits (float8send), binary
    // values in hexadecimal; a few other types whose text output names one
    // value as the system's own text, agreeing only with the same type.
    std::optional<ChecksumColumnSql> ChecksumColumn(std::string_view typeName,
                                                    std::string_view column) const override {
        const std::string c(column);
        auto is = [&](std::initializer_list<std::string_view> names) {
            for (const auto name : names) {
                if (typeName == name) {
                    return true;
                }
            }
            return false;
        };
        if (is({"int2", "int4", "int8", "smallint", "integer", "bigint", "serial", "bigserial",
                "smallserial"})) {
            return ChecksumColumnSql{"integer", CanonicalPieceSql(c, 'i', c + "::text")};
        }
        if (is({"text", "varchar", "character varying", "name"})) {
            return ChecksumColumnSql{"text",
                                     CanonicalTextPieceSql(c, c + "::text", "octet_length")};
        }
        if (is({"float4", "float8", "real", "double precision"})) {
            return ChecksumColumnSql{
                "float", CanonicalPieceSql(c, 'f', "encode(float8send(" + c + "::float8), 'hex')")};
        }
        if (is({"bytea"})) {
            return ChecksumColumnSql{"binary",
                                     CanonicalPieceSql(c, 'b', "encode(" + c + ", 'hex')")};
        }
        if (is({"numeric", "bool", "boolean", "date", "time", "timestamp", "timestamptz",
                "uuid"})) {
            return ChecksumColumnSql{"pg:" + std::string(typeName),
                                     CanonicalPieceSql(c, 'x', c + "::text")};
        }
        return std::nullopt;
    }

    // Whole pages chosen by a fixed seed: a few pages are read, not the
    // table.
    std::optional<std::string_view> SampleClause() const override {
        return " TABLESAMPLE SYSTEM (CAST(? AS real)) REPEATABLE (0)";
    }

    std::optional<std::string_view> ChecksumEncodingQuery() const override {
        return "SELECT current_setting('server_encoding')";
    }

    // "C" compares text by its bytes; other types have no collation and
    // order by value.
    std::optional<std::string> KeyOrderCollation(std::string_view typeName, int) const override {
        for (const char* text :
             {"text", "varchar", "bpchar", "char", "name", "character varying", "character"}) {
            if (typeName == text) {
                return std::string(" COLLATE \"C\"");
            }
        }
        return std::string();
    }

    // The rules and deferrability as SQLForeignKeys codes them: SQL_CASCADE
    // 0, SQL_RESTRICT 1, SQL_SET_NULL 2, SQL_NO_ACTION 3, SQL_SET_DEFAULT 4;
    // SQL_INITIALLY_DEFERRED 5, SQL_INITIALLY_IMMEDIATE 6, SQL_NOT_DEFERRABLE 7.
    std::optional<std::string_view> ForeignKeysQuery() const override {
        return "SELECT NULL, pn.nspname, pc.relname, pa.attname, NULL, fn.nspname, fc.relname, "
               "fa.attname, k.n, "
               "CASE con.confupdtype WHEN 'c' THEN 0 WHEN 'r' THEN 1 WHEN 'n' THEN 2 "
               "WHEN 'd' THEN 4 ELSE 3 END, "
               "CASE con.confdeltype WHEN 'c' THEN 0 WHEN 'r' THEN 1 WHEN 'n' THEN 2 "
               "WHEN 'd' THEN 4 ELSE 3 END, "
               "con.conname, NULL, "
               "CASE WHEN NOT con.condeferrable THEN 7 WHEN con.condeferred THEN 5 ELSE 6 END "
               "FROM pg_catalog.pg_constraint con "
               "JOIN pg_catalog.pg_class fc ON fc.oid = con.conrelid "
               "JOIN pg_catalog.pg_namespace fn ON fn.oid = fc.relnamespace "
               "JOIN pg_catalog.pg_class pc ON pc.oid = con.confrelid "
               "JOIN pg_catalog.pg_namespace pn ON pn.oid = pc.relnamespace "
               "CROSS JOIN LATERAL generate_subscripts(con.conkey, 1) AS k(n) "
               "JOIN pg_catalog.pg_attribute fa "
               "ON fa.attrelid = con.conrelid AND fa.attnum = con.conkey[k.n] "
               "JOIN pg_catalog.pg_attribute pa "
               "ON pa.attrelid = con.confrelid AND pa.attnum = con.confkey[k.n] "
               "WHERE con.contype = 'f' "
               "ORDER BY fn.nspname, fc.relname, pn.nspname, pc.relname, con.conname, k.n";
    }

    // As the driver's SQLStatistics: a row per column of each index (its
    // included columns too), in the order primary key, other indexes, unique
    // indexes, by name; an expression as the server writes it; "D" for a
    // descending key column; type 1 clustered, 2 hash, 3 other.
    std::optional<std::string_view> StatisticsQuery() const override {
        return "SELECT NULL, n.nspname, d.relname, CASE WHEN i.indisunique THEN 0 ELSE 1 END, "
               "n.nspname, c.relname, "
               "CASE WHEN i.indisclustered THEN 1 WHEN a.amname LIKE 'hash%' THEN 2 ELSE 3 END, "
               "k.n, "
               "CASE WHEN i.indkey[k.n - 1] = 0 "
               "THEN pg_catalog.pg_get_indexdef(c.oid, k.n, true) "
               "ELSE COALESCE(att.attname, 'UNKNOWN') END, "
               "CASE WHEN (COALESCE(i.indoption[k.n - 1], 0) & 1) <> 0 THEN 'D' ELSE 'A' END, "
               "NULL, NULL, NULL "
               "FROM pg_catalog.pg_index i "
               "JOIN pg_catalog.pg_class c ON c.oid = i.indexrelid "
               "JOIN pg_catalog.pg_class d ON d.oid = i.indrelid "
               "JOIN pg_catalog.pg_am a ON a.oid = c.relam "
               "JOIN pg_catalog.pg_namespace n ON n.oid = d.relnamespace "
               "CROSS JOIN LATERAL generate_series(1, i.indnatts) AS k(n) "
               "LEFT JOIN pg_catalog.pg_attribute att ON att.attrelid = d.oid "
               "AND att.attnum = i.indkey[k.n - 1] AND att.attnum > 0 AND NOT att.attisdropped "
               "ORDER BY n.nspname, d.relname, i.indisprimary DESC, i.indisunique, c.relname, k.n";
    }

    // As the driver's SQLPrimaryKeys: KEY_SEQ is the column's place in the
    // key's index, PK_NAME the index's name.
    std::optional<std::string_view> PrimaryKeysQuery() const override {
        return "SELECT NULL, n.nspname, tc.relname, ta.attname, ia.attnum, ic.relname "
               "FROM pg_catalog.pg_index i "
               "JOIN pg_catalog.pg_class tc ON tc.oid = i.indrelid "
               "JOIN pg_catalog.pg_namespace n ON n.oid = tc.relnamespace "
               "JOIN pg_catalog.pg_class ic ON ic.oid = i.indexrelid "
               "JOIN pg_catalog.pg_attribute ia ON ia.attrelid = i.indexrelid "
               "JOIN pg_catalog.pg_attribute ta "
               "ON ta.attrelid = i.indrelid AND ta.attnum = i.indkey[ia.attnum - 1] "
               "WHERE i.indisprimary AND NOT ta.attisdropped AND NOT ia.attisdropped "
               "ORDER BY n.nspname, tc.relname, ia.attnum";
    }

    std::optional<std::string_view> TriggersQuery() const override {
        return "SELECT n.nspname, c.relname, t.tgname, pg_catalog.pg_get_triggerdef(t.oid) "
               "FROM pg_catalog.pg_trigger t "
               "JOIN pg_catalog.pg_class c ON c.oid = t.tgrelid "
               "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
               "WHERE NOT t.tgisinternal";
    }
};

}  // namespace

const Dialect& PostgresDialect() {
    static const PostgresDialectImpl dialect;
    return dialect;
}

// Left to itself the driver reads a whole result into memory before it
// hands over the first row; through a cursor (UseDeclareFetch, abbreviated
// B6, or a bit of the CX flags) it reads Fetch (A7) rows at a time.
DriverProfile PostgresDriverProfile(bool unicode) {
    DriverProfile profile;
    profile.defaults = {
        {{"UseDeclareFetch", "B6", "CX"}, kUseDeclareFetchAttribute, 1},
        {{"Fetch", "A7"}, kFetchAttribute, kFirstBatchRows},
    };
    profile.batchingAttribute = kUseDeclareFetchAttribute;
    profile.batchRowsAttribute = kFetchAttribute;
    profile.batchBytes = kBatchBytes;
    profile.maxBatchRows = kMaxBatchRows;
    // The Unicode driver has the server send UTF-8 and hands text over as
    // bytes unchanged, unless told to turn line ends into CR LF. (A value in
    // pieces loses its last byte that way: those are read as UTF-16.)
    if (unicode) {
        // Not "name": the driver cannot give it as bytes ("Received an
        // unsupported type from Postgres").
        profile.utf8TextTypes = {"text", "varchar", "bpchar"};
    }
    profile.textConversionKeywords = {"LFConversion", "C5"};
    return profile;
}

}  // namespace kesmark::odbc
