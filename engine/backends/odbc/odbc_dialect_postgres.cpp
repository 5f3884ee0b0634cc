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
        };
    }

    bool ReadsInOneTransaction() const override { return true; }

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
        profile.utf8TextTypes = {"text", "varchar", "bpchar", "name"};
    }
    profile.textConversionKeywords = {"LFConversion", "C5"};
    return profile;
}

}  // namespace kesmark::odbc
