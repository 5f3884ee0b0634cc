#include "engine/backends/odbc/odbc_catalog_rows.h"

#include <charconv>

#include "engine/model/object_tree.h"

namespace kesmark::odbc {

const Cell& At(const TextRow& row, std::size_t column) {
    static const Cell none;
    return column >= 1 && column <= row.size() ? row[column - 1] : none;
}

std::string Text(const TextRow& row, std::size_t column) {
    return At(row, column).value_or("");
}

std::optional<std::string> NonEmpty(const TextRow& row, std::size_t column) {
    const Cell& cell = At(row, column);
    return cell && !cell->empty() ? cell : std::nullopt;
}

std::optional<std::int64_t> Number(const TextRow& row, std::size_t column) {
    const Cell& cell = At(row, column);
    if (!cell || cell->empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const char* end = cell->data() + cell->size();
    const auto result = std::from_chars(cell->data(), end, value);
    if (result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

Value TextOrNull(const Cell& cell) {
    return cell && !cell->empty() ? Value(*cell) : Value();
}

Value NumberOrNull(const std::optional<std::int64_t>& number) {
    return number ? Value(*number) : Value();
}

bool NamesTable(const TextRow& row, std::size_t schemaColumn, std::size_t nameColumn,
                const std::optional<std::string>& schema, const std::string& name) {
    if (Text(row, nameColumn) != name) {
        return false;
    }
    const Cell& rowSchema = At(row, schemaColumn);
    return !schema || !rowSchema || rowSchema->empty() || *rowSchema == *schema;
}

ColumnFacts ReadColumnsRow(const TextRow& row, std::optional<std::size_t> autoIncrement) {
    namespace c = columns_column;
    ColumnFacts facts;
    facts.name = Text(row, c::kName);
    facts.dataType = static_cast<SQLSMALLINT>(Number(row, c::kDataType).value_or(SQL_UNKNOWN_TYPE));
    facts.typeName = Text(row, c::kTypeName);
    facts.size = Number(row, c::kColumnSize);
    facts.digits = Number(row, c::kDecimalDigits);
    facts.nullable = Number(row, c::kNullable);
    facts.remarks = At(row, c::kRemarks);
    facts.defaultValue = At(row, c::kDefault);
    facts.ordinal = Number(row, c::kOrdinalPosition);
    if (autoIncrement) {
        const std::string flag = FoldAsciiCase(Text(row, *autoIncrement));
        facts.autoIncrement = flag == "1" || flag == "yes" || flag == "true";
    }
    return facts;
}

ColumnFacts ReadProcedureColumnsRow(const TextRow& row) {
    namespace c = procedure_columns_column;
    ColumnFacts facts;
    facts.name = Text(row, c::kName);
    facts.columnType = Number(row, c::kColumnType).value_or(SQL_PARAM_TYPE_UNKNOWN);
    facts.dataType = static_cast<SQLSMALLINT>(Number(row, c::kDataType).value_or(SQL_UNKNOWN_TYPE));
    facts.typeName = Text(row, c::kTypeName);
    facts.size = Number(row, c::kColumnSize);
    facts.digits = Number(row, c::kDecimalDigits);
    facts.nullable = Number(row, c::kNullable);
    facts.remarks = At(row, c::kRemarks);
    facts.defaultValue = At(row, c::kDefault);
    facts.ordinal = Number(row, c::kOrdinalPosition);
    return facts;
}

TablesRow ReadTablesRow(const TextRow& row) {
    namespace c = tables_column;
    TablesRow table;
    table.schema = NonEmpty(row, c::kSchema);
    table.name = Text(row, c::kName);
    table.type = Text(row, c::kType);
    table.remarks = At(row, c::kRemarks);
    return table;
}

std::optional<StatisticsRow> ReadStatisticsRow(const TextRow& row) {
    namespace c = statistics_column;
    StatisticsRow key;
    key.type = Number(row, c::kType);
    key.indexName = Text(row, c::kIndexName);
    if (key.type == SQL_TABLE_STAT || key.indexName.empty()) {
        return std::nullopt;
    }
    key.unique = Number(row, c::kNonUnique) == 0;
    key.position = Number(row, c::kOrdinalPosition);
    key.columnName = At(row, c::kColumnName);
    key.descending = Text(row, c::kAscOrDesc) == "D";
    key.condition = Text(row, c::kFilterCondition);
    return key;
}

PrimaryKeysRow ReadPrimaryKeysRow(const TextRow& row) {
    namespace c = primary_keys_column;
    PrimaryKeysRow key;
    key.columnName = Text(row, c::kColumnName);
    key.sequence = Number(row, c::kKeySequence).value_or(0);
    key.keyName = Text(row, c::kName);
    return key;
}

ForeignKeysRow ReadForeignKeysRow(const TextRow& row) {
    namespace c = foreign_keys_column;
    ForeignKeysRow key;
    key.primarySchema = NonEmpty(row, c::kPrimarySchema);
    key.primaryTable = Text(row, c::kPrimaryTable);
    key.primaryColumn = Text(row, c::kPrimaryColumn);
    key.foreignColumn = Text(row, c::kForeignColumn);
    key.sequence = Number(row, c::kKeySequence).value_or(1);
    key.name = Text(row, c::kName);
    key.updateRule = Number(row, c::kUpdateRule);
    key.deleteRule = Number(row, c::kDeleteRule);
    key.deferrability = Number(row, c::kDeferrability);
    return key;
}

ProceduresRow ReadProceduresRow(const TextRow& row) {
    namespace c = procedures_column;
    ProceduresRow procedure;
    procedure.schema = NonEmpty(row, c::kSchema);
    procedure.name = Text(row, c::kName);
    procedure.remarks = At(row, c::kRemarks);
    procedure.type = Number(row, c::kType);
    return procedure;
}

std::string RuleText(const std::optional<std::int64_t>& rule) {
    if (!rule) {
        return "";
    }
    switch (*rule) {
        case SQL_CASCADE:
            return "CASCADE";
        case SQL_RESTRICT:
            return "RESTRICT";
        case SQL_SET_NULL:
            return "SET NULL";
        case SQL_NO_ACTION:
            return "NO ACTION";
        case SQL_SET_DEFAULT:
            return "SET DEFAULT";
        default:
            return std::to_string(*rule);
    }
}

std::string DeferrabilityText(const std::optional<std::int64_t>& value) {
    if (!value) {
        return "";
    }
    switch (*value) {
        case SQL_INITIALLY_DEFERRED:
            return "INITIALLY DEFERRED";
        case SQL_INITIALLY_IMMEDIATE:
            return "INITIALLY IMMEDIATE";
        case SQL_NOT_DEFERRABLE:
            return "NOT DEFERRABLE";
        default:
            return std::to_string(*value);
    }
}

std::string IndexTypeText(const std::optional<std::int64_t>& type) {
    switch (type.value_or(-1)) {
        case SQL_INDEX_CLUSTERED:
            return "clustered";
        case SQL_INDEX_HASHED:
            return "hashed";
        default:
            return "other";
    }
}

}  // namespace kesmark::odbc
