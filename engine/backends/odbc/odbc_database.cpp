#include "engine/backends/odbc/odbc_database.h"

#include <charconv>
#include <mutex>

#include "engine/backends/odbc/odbc_catalog.h"
#include "engine/backends/odbc/odbc_dialect.h"
#include "engine/backends/odbc/odbc_postgres_copy.h"
#include "engine/backends/odbc/odbc_postgres_long_values.h"
#include "engine/backends/odbc/odbc_recordset.h"
#include "engine/backends/odbc/odbc_types.h"
#include "engine/backends/odbc/odbc_vocabulary.h"
#include "engine/model/connect_string.h"
#include "engine/model/object_tree.h"
#include "engine/model/range_sql.h"

namespace kesmark::odbc {

namespace {

// Index scans allowed for as long as it lives, where the dialect keeps them
// off (Dialect::IndexScans): a statement that orders its rows itself, or
// needs no order, is planned while it lives; the cursor keeps its plan.
class IndexScansAllowed {
  public:
    IndexScansAllowed(Connection& connection, const Dialect& dialect)
        : connection_(connection), settings_(dialect.IndexScans()) {
        if (settings_) {
            connection_.NewStatement().Execute(settings_->allow, "allowing index scans");
        }
    }
    ~IndexScansAllowed() {
        if (!settings_) {
            return;
        }
        try {
            connection_.NewStatement().Execute(settings_->forbid, "forbidding index scans");
        } catch (const DbError&) {
            // A lost connection is said by the next statement.
        }
    }
    IndexScansAllowed(const IndexScansAllowed&) = delete;
    IndexScansAllowed& operator=(const IndexScansAllowed&) = delete;

  private:
    Connection& connection_;
    std::optional<Dialect::IndexScanSettings> settings_;
};

// A percentage as plain decimal text ("0.48"), whatever the locale.
std::string FormatSharePercent(double percent) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, percent, std::chars_format::fixed, 4);
    return std::string(text, result.ptr);
}

class OdbcDatabase : public TreeDatabase {
  public:
    // `copy` reads whole tables through COPY, where there is one.
    OdbcDatabase(std::string name, std::string connect, std::unique_ptr<Connection> connection,
                 std::unique_ptr<CopySession> copy)
        : TreeDatabase(std::move(name), "ODBC"),
          connect_(std::move(connect)),
          connection_(std::move(connection)),
          copy_(std::move(copy)),
          catalog_(std::make_unique<Catalog>(*connection_)) {
        SetSystem(connection_->Info().dbmsName);
        Root().properties = ReadDatabaseProperties();
        catalog_->Attach(Root());
        ApplyVocabulary(Root(), *connection_);
    }
    ~OdbcDatabase() override { Close(); }

    std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                             const std::vector<std::string>& fields) override {
        const std::string sql = RecordsetStatement(table, fields);
        return OpenOdbcRecordset(*connection_, std::string(table), sql);
    }

    std::string RecordsetStatement(std::string_view table,
                                   const std::vector<std::string>& fields) override {
        CheckOpen();
        std::string sql = "SELECT ";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i) {
                sql += ", ";
            }
            sql += connection_->QuoteIdentifier(fields[i]);
        }
        if (fields.empty()) {
            sql += "*";
        }
        sql += " FROM " + catalog_->SelectSource(table);
        sql += DialectFor(connection_->Kind()).TableScanSuffix();
        return sql;
    }

    std::unique_ptr<Recordset> OpenOrderedRecordset(
        std::string_view table, const std::vector<std::string>& fields,
        const std::vector<std::string>& keyFields) override {
        CheckOpen();
        const Dialect& dialect = DialectFor(connection_->Kind());
        std::string order;
        for (const auto& k : keyFields) {
            const Properties field = FieldProperties(table, k);
            const auto collation = dialect.KeyOrderCollation(TypeNameOf(field), DaoTypeOf(field));
            if (!collation) {
                return Database::OpenOrderedRecordset(table, fields, keyFields);
            }
            order += (order.empty() ? "" : ", ") + connection_->QuoteIdentifier(k) + *collation;
        }
        if (auto copied = CopyRecordset(table, fields, keyFields, order)) {
            return copied;
        }
        std::string sql = SelectColumns(fields) + " FROM " + catalog_->SelectSource(table);
        if (!order.empty()) {
            sql += " ORDER BY " + order;
        }
        return OpenOdbcRecordset(*connection_, std::string(table), sql);
    }

    // Every row of a PostgreSQL table in key order through COPY
    // (odbc_postgres_copy.h), where the types of `fields` allow and a second
    // session can be opened; nullptr to read through the driver. `fields`
    // must hold the key fields, by which a long value is read in pieces.
    std::unique_ptr<Recordset> CopyRecordset(std::string_view table,
                                             const std::vector<std::string>& fields,
                                             const std::vector<std::string>& keyFields,
                                             const std::string& order) {
        if (!copy_ || fields.empty() || keyFields.empty() || order.empty()) {
            return nullptr;
        }
        auto longValues = LongValuesOf(table, fields, keyFields);
        if (!longValues) {
            return nullptr;
        }
        for (const auto& shape : longValues->shapes) {
            if (!CopyReadsAlike(shape.typeName)) {
                return nullptr;
            }
        }
        // The sizes of long values come after the fields, as numbers.
        std::vector<ResultShape> columns = longValues->shapes;
        for (std::size_t j = 0; j < longValues->columns.longFields.size(); ++j) {
            ResultShape size;
            size.description.name = "kesmark_size";
            size.description.sqlType = SQL_BIGINT;
            size.daoType = dao::kBigInt;
            size.typeName = "int8";
            columns.push_back(std::move(size));
        }
        auto copied = copy_->OpenRecordset(std::string(table), std::move(columns),
                                           "COPY (SELECT " + longValues->columns.selectList +
                                               " FROM " + catalog_->SelectSource(table) +
                                               " ORDER BY " + order + ") TO STDOUT");
        if (!copied) {
            return nullptr;
        }
        return InPieces(std::move(copied), table, fields, keyFields, *longValues, std::nullopt);
    }

    // How a PostgreSQL statement over `fields` of `table` reads their long
    // values in pieces (odbc_postgres_long_values.h), by the key `keyFields`
    // (fields themselves when `keyInFields`).
    struct LongValueReading {
        std::vector<ResultShape> shapes;  // of the fields, as the driver describes them
        LongValueColumns columns;
        std::vector<std::size_t> keyColumns;  // the key's fields among the fields
    };
    std::optional<LongValueReading> LongValuesOf(std::string_view table,
                                                 const std::vector<std::string>& fields,
                                                 const std::vector<std::string>& keyFields,
                                                 bool keyInFields = true) {
        // The last answer is kept: keyed reads come one row after another.
        if (lastLongValues_ && lastLongValues_->table == table &&
            lastLongValues_->fields == fields && lastLongValues_->keyFields == keyFields &&
            lastLongValues_->keyInFields == keyInFields) {
            return lastLongValues_->reading;
        }
        LongValueReading reading;
        for (const auto& k : keyFields) {
            const auto at = std::find(fields.begin(), fields.end(), k);
            if (at != fields.end()) {
                reading.keyColumns.push_back(static_cast<std::size_t>(at - fields.begin()));
            } else if (keyInFields) {
                return std::nullopt;
            }
        }
        auto describe = connection_->NewStatement();
        describe.Execute(
            SelectColumns(fields) + " FROM " + catalog_->SelectSource(table) + " WHERE 1 = 0",
            "reading the columns of table " + std::string(table));
        reading.shapes = DescribeResult(*connection_, describe);
        describe.CloseCursor();
        if (reading.shapes.size() != fields.size()) {
            return std::nullopt;
        }
        std::vector<std::string> quoted;
        std::vector<std::string> typeNames;
        std::vector<bool> kept(fields.size(), false);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            quoted.push_back(connection_->QuoteIdentifier(fields[i]));
            typeNames.push_back(reading.shapes[i].typeName);
        }
        for (const std::size_t k : reading.keyColumns) {
            kept[k] = true;
        }
        reading.columns = SelectWithLongValueSizes(quoted, typeNames, kept);
        lastLongValues_ =
            LastLongValues{std::string(table), fields, keyFields, keyInFields, reading};
        return reading;
    }
    struct LastLongValues {
        std::string table;
        std::vector<std::string> fields;
        std::vector<std::string> keyFields;
        bool keyInFields = true;
        std::optional<LongValueReading> reading;
    };
    std::optional<LastLongValues> lastLongValues_;

    // `inner` (fields, then the sizes of `reading`'s long values) with its
    // long values read in pieces, by the row's key: the key fields' values,
    // or `key`.
    std::unique_ptr<Recordset> InPieces(std::unique_ptr<Recordset> inner, std::string_view table,
                                        const std::vector<std::string>& fields,
                                        const std::vector<std::string>& keyFields,
                                        const LongValueReading& reading,
                                        std::optional<std::vector<Value>> key) {
        std::vector<bool> binary;
        for (const auto& shape : reading.shapes) {
            binary.push_back(IsBinarySqlType(shape.description.sqlType));
        }
        RowKey rowKey{reading.keyColumns, std::move(key)};
        const std::string source = catalog_->SelectSource(table);
        auto pieces = [this, table = std::string(table), source, fields, keyFields, binary](
                          std::size_t field, const std::vector<Value>& values) {
            std::vector<KeyParameter> parameters;
            for (std::size_t k = 0; k < keyFields.size(); ++k) {
                parameters.push_back(KeyParameter{k, values.at(k)});
            }
            const std::string sql =
                LongValuePiecesSql(source, connection_->QuoteIdentifier(fields.at(field)),
                                   binary.at(field), KeyMatch(keyFields));
            return OpenOdbcRecordset(*connection_, table, sql,
                                     BindKeys(table, keyFields, parameters));
        };
        return WithLongValuesInPieces(std::move(inner), fields.size(), reading.columns.longFields,
                                      std::move(binary), std::move(rowKey), std::move(pieces));
    }

    std::unique_ptr<Recordset> OpenKeyedRecordset(std::string_view table,
                                                  const std::vector<std::string>& fields,
                                                  const std::vector<std::string>& keyFields,
                                                  const std::vector<Value>& keyValues) override {
        CheckOpen();
        if (keyFields.size() != keyValues.size()) {
            throw DbError(errors::kTypeMismatch, "A key needs one value per key field.", "ODBC");
        }
        const std::string source = catalog_->SelectSource(table);
        std::vector<KeyParameter> values;
        for (std::size_t i = 0; i < keyFields.size(); ++i) {
            values.push_back(KeyParameter{i, keyValues[i]});
        }
        const std::vector<Parameter> parameters = BindKeys(table, keyFields, values);
        const std::string where = KeyMatch(keyFields);
        if (connection_->Kind() == Dbms::PostgreSQL && !fields.empty()) {
            if (auto reading = LongValuesOf(table, fields, keyFields, false)) {
                auto row = OpenOdbcRecordset(
                    *connection_, std::string(table),
                    "SELECT " + reading->columns.selectList + " FROM " + source + " WHERE " + where,
                    parameters);
                return InPieces(std::move(row), table, fields, keyFields, *reading, keyValues);
            }
        }
        const std::string sql = SelectColumns(fields) + " FROM " + source + " WHERE " + where;
        return OpenOdbcRecordset(*connection_, std::string(table), sql, parameters);
    }

    std::optional<std::vector<ChecksumForm>> ChecksumForms(
        std::string_view table, const std::vector<std::string>& fields) override {
        CheckOpen();
        const Dialect& dialect = DialectFor(connection_->Kind());
        const auto encodingQuery = dialect.ChecksumEncodingQuery();
        if (!encodingQuery) {
            return std::nullopt;
        }
        if (!utf8Server_) {
            auto statement = connection_->NewStatement();
            statement.Execute(*encodingQuery, "reading the server's encoding");
            const ResultSet result = statement.FetchAll("reading the server's encoding");
            utf8Server_ = !result.rows.empty() && !result.rows.front().empty() &&
                          result.rows.front().front().value_or("") == "UTF8";
        }
        if (!*utf8Server_) {
            return std::nullopt;
        }
        std::vector<ChecksumForm> forms;
        for (const auto& field : fields) {
            const auto column = dialect.ChecksumColumn(TypeNameOf(FieldProperties(table, field)),
                                                       connection_->QuoteIdentifier(field));
            forms.push_back(column ? column->form : ChecksumForm());
        }
        return forms;
    }

    std::vector<std::vector<Value>> KeyBoundaries(std::string_view table,
                                                  const std::vector<std::string>& keyFields,
                                                  const KeyRange& range, std::int64_t parts,
                                                  std::optional<std::int64_t> rows) override {
        CheckOpen();
        if (rows && range.after.empty() && range.upTo.empty()) {
            auto sampled = SampledBoundaries(table, keyFields, parts, *rows);
            if (!sampled.empty()) {
                return sampled;
            }
        }
        const RangeSql key = KeySql(table, keyFields);
        std::vector<KeyParameter> keyParameters;
        std::string where = key.KeyNotNull();
        if (const std::string inRange = key.RangePredicate(range, keyParameters);
            !inRange.empty()) {
            where += " AND " + inRange;
        }
        // The place of every boundary: from the rows given, or counted.
        const std::string columns = SelectColumns(keyFields).substr(7);
        const std::string sql =
            "SELECT " + columns + " FROM (SELECT " + columns + ", row_number() OVER (ORDER BY " +
            key.OrderBy() + ") AS kesmark_row" +
            (rows ? "" : ", count(*) OVER () AS kesmark_rows") + " FROM " +
            catalog_->SelectSource(table) + " WHERE " + where +
            ") kesmark_keys WHERE kesmark_row % " + (rows ? "?" : "((kesmark_rows + ? - 1) / ?)") +
            " = 0 ORDER BY kesmark_row";
        std::vector<Parameter> parameters = BindKeys(table, keyFields, keyParameters);
        Parameter every;
        every.column.sqlType = SQL_BIGINT;
        every.text =
            std::to_string(rows ? BoundaryEvery(*rows, parts) : std::max<std::int64_t>(parts, 1));
        parameters.insert(parameters.end(), rows ? 1 : 2, every);
        return ReadKeys(table, keyFields, sql, parameters);
    }

    // The boundaries of a table of about `rows` rows from a sample of its
    // keys (Dialect::SampleClause): about kSampleKeysPerPart keys a part are
    // read, not every key. Empty where there is no sampling, the table is
    // small, or the sample holds too few keys.
    std::vector<std::vector<Value>> SampledBoundaries(std::string_view table,
                                                      const std::vector<std::string>& keyFields,
                                                      std::int64_t parts, std::int64_t rows) {
        constexpr std::int64_t kSampleAboveRows = 100000;
        constexpr std::int64_t kSampleKeysPerPart = 300;
        const auto clause = DialectFor(connection_->Kind()).SampleClause();
        const double percent = 100.0 * static_cast<double>(std::max<std::int64_t>(parts, 1)) *
                               kSampleKeysPerPart /
                               static_cast<double>(std::max<std::int64_t>(rows, 1));
        if (!clause || rows < kSampleAboveRows || percent >= 50) {
            return {};
        }
        const RangeSql key = KeySql(table, keyFields);
        const std::string sql = SelectColumns(keyFields) + " FROM " +
                                catalog_->SelectSource(table) + std::string(*clause) + " WHERE " +
                                key.KeyNotNull() + " ORDER BY " + key.OrderBy();
        Parameter share;
        share.column.sqlType = SQL_VARCHAR;
        share.text = FormatSharePercent(percent);
        return BoundariesOfSample(ReadKeys(table, keyFields, sql, {share}), parts);
    }

    // The keys a statement of KeyBoundaries reads, in its order.
    std::vector<std::vector<Value>> ReadKeys(std::string_view table,
                                             const std::vector<std::string>& keyFields,
                                             const std::string& sql,
                                             const std::vector<Parameter>& parameters) {
        auto recordset = [&] {
            const IndexScansAllowed indexes(*connection_, DialectFor(connection_->Kind()));
            return OpenOdbcRecordset(*connection_, std::string(table), sql, parameters);
        }();
        std::vector<std::vector<Value>> keys;
        for (; !recordset->IsEof(); recordset->MoveNext()) {
            std::vector<Value> k;
            for (std::size_t i = 0; i < keyFields.size(); ++i) {
                k.push_back(recordset->Field(i).GetValue());
            }
            keys.push_back(std::move(k));
        }
        recordset->Close();
        return keys;
    }

    RangeSummaries RangeChecksums(std::string_view table, const std::vector<std::string>& fields,
                                  const std::vector<std::string>& keyFields, const KeyRange& range,
                                  const std::vector<std::vector<Value>>& boundaries) override {
        CheckOpen();
        const Dialect& dialect = DialectFor(connection_->Kind());
        std::vector<std::string> pieces;
        for (const auto& field : fields) {
            const auto column = dialect.ChecksumColumn(TypeNameOf(FieldProperties(table, field)),
                                                       connection_->QuoteIdentifier(field));
            if (!column) {
                throw DbError(errors::kNotSupported,
                              "The database cannot compute row checksums of field '" + field +
                                  "' of table '" + std::string(table) + "'.",
                              connection_->Source());
            }
            pieces.push_back(column->piece);
        }
        const RangeSql key = KeySql(table, keyFields);
        std::vector<KeyParameter> keyParameters;
        const std::string part = key.PartExpression(boundaries, keyParameters);
        std::string sql = "SELECT kesmark_part, COUNT(*), " + dialect.HashSumSql("kesmark_hash") +
                          " FROM (SELECT " + part + " AS kesmark_part, " +
                          dialect.RowHashSql(pieces) + " AS kesmark_hash FROM " +
                          catalog_->SelectSource(table);
        if (const std::string inRange = key.RangePredicate(range, keyParameters);
            !inRange.empty()) {
            sql += " WHERE " + inRange;
        }
        sql += ") kesmark_rows GROUP BY kesmark_part";
        auto recordset = [&] {
            const IndexScansAllowed indexes(*connection_, dialect);
            return OpenOdbcRecordset(*connection_, std::string(table), sql,
                                     BindKeys(table, keyFields, keyParameters));
        }();
        RangeSummaries summaries;
        summaries.ranges.resize(boundaries.size() + 1);
        for (; !recordset->IsEof(); recordset->MoveNext()) {
            const std::int64_t at = IntegerOf(recordset->Field(0).GetValue());
            const std::int64_t rows = IntegerOf(recordset->Field(1).GetValue());
            const Value sum = recordset->Field(2).GetValue();
            const auto* sumText = sum.As<std::string>();
            const RangeSummary summary{rows, sumText ? DecimalModulo64(*sumText) : 0};
            if (at < 0) {
                summaries.nullKeyRows += rows;
            } else if (static_cast<std::size_t>(at) < summaries.ranges.size()) {
                summaries.ranges[static_cast<std::size_t>(at)] = summary;
            }
        }
        recordset->Close();
        return summaries;
    }

    std::unique_ptr<Recordset> OpenRangeRecordset(std::string_view table,
                                                  const std::vector<std::string>& fields,
                                                  const std::vector<std::string>& keyFields,
                                                  const KeyRange& range) override {
        CheckOpen();
        const RangeSql key = KeySql(table, keyFields);
        std::vector<KeyParameter> keyParameters;
        std::string sql = SelectColumns(fields) + " FROM " + catalog_->SelectSource(table);
        if (const std::string inRange = key.RangePredicate(range, keyParameters);
            !inRange.empty()) {
            sql += " WHERE " + inRange;
        }
        sql += " ORDER BY " + key.OrderBy();
        // Long values in pieces, where the key is among the fields.
        std::optional<LongValueReading> reading;
        if (connection_->Kind() == Dbms::PostgreSQL && !fields.empty()) {
            reading = LongValuesOf(table, fields, keyFields);
        }
        if (reading) {
            sql =
                "SELECT " + reading->columns.selectList + sql.substr(SelectColumns(fields).size());
        }
        const IndexScansAllowed indexes(*connection_, DialectFor(connection_->Kind()));
        auto rows = OpenOdbcRecordset(*connection_, std::string(table), sql,
                                      BindKeys(table, keyFields, keyParameters));
        if (!reading) {
            return rows;
        }
        return InPieces(std::move(rows), table, fields, keyFields, *reading, std::nullopt);
    }

    void Interrupt() override {
        const std::lock_guard lock(closing_);
        if (connection_) {
            connection_->CancelRunningCall();
        }
        if (copy_) {
            copy_->Cancel();
        }
    }

    void Close() override {
        const std::lock_guard lock(closing_);
        MarkClosed();
        if (catalog_) {
            catalog_->Detach();
        }
        catalog_.reset();
        copy_.reset();
        connection_.reset();
    }

  private:
    // The key of `table` in range predicates, each column with the
    // collation that orders it by its bytes. Throws DbError when the system
    // has none for a key column.
    RangeSql KeySql(std::string_view table, const std::vector<std::string>& keyFields) {
        const Dialect& dialect = DialectFor(connection_->Kind());
        std::vector<std::string> columns;
        std::vector<std::string> collations;
        for (const auto& k : keyFields) {
            columns.push_back(connection_->QuoteIdentifier(k));
            const Properties field = FieldProperties(table, k);
            auto collation = dialect.KeyOrderCollation(TypeNameOf(field), DaoTypeOf(field));
            if (!collation) {
                throw DbError(errors::kNotSupported,
                              "The database cannot compare key field '" + k + "' of table '" +
                                  std::string(table) + "' by its bytes.",
                              connection_->Source());
            }
            collations.push_back(std::move(*collation));
        }
        return RangeSql(std::move(columns), collations);
    }

    // "k1 = ? AND k2 = ?", each finding the key by its bytes.
    std::string KeyMatch(const std::vector<std::string>& keyFields) const {
        std::string where;
        for (std::size_t i = 0; i < keyFields.size(); ++i) {
            where += (i ? " AND " : "") + connection_->QuoteIdentifier(keyFields[i]) + " = ?" +
                     std::string(DialectFor(connection_->Kind()).KeyMatchCollation());
        }
        return where;
    }

    // The parameters of key values, each described as its key column so
    // that the driver converts the text to the column's type.
    std::vector<Parameter> BindKeys(std::string_view table,
                                    const std::vector<std::string>& keyFields,
                                    const std::vector<KeyParameter>& values) {
        if (values.empty()) {
            return {};
        }
        auto describe = connection_->NewStatement();
        describe.Execute(
            SelectColumns(keyFields) + " FROM " + catalog_->SelectSource(table) + " WHERE 1 = 0",
            "reading the key columns of table " + std::string(table));
        std::vector<ColumnDescription> columns;
        for (std::size_t i = 0; i < keyFields.size(); ++i) {
            columns.push_back(describe.Describe(static_cast<SQLUSMALLINT>(i + 1)));
        }
        describe.CloseCursor();
        std::vector<Parameter> parameters;
        for (const auto& value : values) {
            parameters.push_back(KeyParameterOf(value.value, columns.at(value.keyField)));
        }
        return parameters;
    }

    static Parameter KeyParameterOf(const Value& value, const ColumnDescription& column) {
        Parameter p;
        p.column = column;
        if (const auto* bytes = value.As<Bytes>()) {
            p.bytes = *bytes;
        } else if (const auto* b = value.As<bool>()) {
            p.text = *b ? "1" : "0";
        } else {
            p.text = PlainText(value);
        }
        return p;
    }

    static std::int64_t IntegerOf(const Value& value) {
        if (const auto* i = value.As<std::int64_t>()) {
            return *i;
        }
        if (const auto* d = value.As<Decimal>()) {
            return std::stoll(d->text);
        }
        if (const auto* t = value.As<std::string>()) {
            return std::stoll(*t);
        }
        if (const auto* d = value.As<double>()) {
            return static_cast<std::int64_t>(*d);
        }
        return 0;
    }

    // "SELECT a, b" with every name quoted ("SELECT *" for none).
    std::string SelectColumns(const std::vector<std::string>& fields) const {
        std::string sql = "SELECT ";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            sql += (i ? ", " : "") + connection_->QuoteIdentifier(fields[i]);
        }
        return fields.empty() ? sql + "*" : sql;
    }

    // The properties of one field of a table, from the catalog.
    Properties FieldProperties(std::string_view table, const std::string& field) {
        return GetCollection(collections::kTableDefs)
            ->Item(table)
            ->GetCollection(collections::kFields)
            ->Item(field)
            ->GetProperties();
    }
    static std::string TypeNameOf(const Properties& field) {
        const Property* p = field.Find("TypeName");
        const Value v = p ? p->GetValue() : Value();
        const auto* name = v.As<std::string>();
        return name ? *name : std::string();
    }
    static int DaoTypeOf(const Properties& field) {
        const Property* p = field.Find("Type");
        const Value v = p ? p->GetValue() : Value();
        const auto* type = v.As<std::int64_t>();
        return type ? static_cast<int>(*type) : dao::kText;
    }

    Properties ReadDatabaseProperties() const {
        const SourceInfo& info = connection_->Info();
        Properties p;
        p.Add("Name", dao::kText, DatabaseName());
        p.Add("Connect", dao::kText, connect_);
        p.Add("Version", dao::kText, info.dbmsVersion);
        p.Add("Updatable", dao::kBoolean, false);
        p.Add("Transactions", dao::kBoolean, info.transactions);
        p.Add("QueryTimeout", dao::kInteger, connection_->GetTimeouts().statement);
        p.Add("DBMSName", dao::kText, info.dbmsName);
        p.Add("DBMSVersion", dao::kText, info.dbmsVersion);
        p.Add("DriverName", dao::kText, info.driverName);
        p.Add("DriverVersion", dao::kText, info.driverVersion);
        p.Add("DriverODBCVersion", dao::kText, info.driverOdbcVersion);
        p.Add("DataSourceName", dao::kText, info.dataSourceName);
        p.Add("DatabaseName", dao::kText, info.databaseName);
        p.Add("CatalogName", dao::kText, info.catalogName);
        p.Add("ServerName", dao::kText, info.serverName);
        p.Add("UserName", dao::kText, info.userName);
        p.Add("IdentifierQuoteChar", dao::kText, info.identifierQuote);
        p.Add("IdentifierCase", dao::kText, info.identifierCase);
        p.Add("QuotedIdentifierCase", dao::kText, info.quotedIdentifierCase);
        p.Add("CatalogTerm", dao::kText, info.catalogTerm);
        p.Add("SchemaTerm", dao::kText, info.schemaTerm);
        p.Add("ProcedureTerm", dao::kText, info.procedureTerm);
        p.Add("TableTerm", dao::kText, info.tableTerm);
        p.Add("SearchPatternEscape", dao::kText, info.searchPatternEscape);
        p.Add("CollatingSequence", dao::kText, info.collationSequence);
        p.Add("DefaultIsolation", dao::kText, info.defaultIsolation);
        p.Add("DataSourceReadOnly", dao::kBoolean, info.dataSourceReadOnly);
        return p;
    }

    std::string connect_;
    std::unique_ptr<Connection> connection_;
    // The second session that reads whole tables through COPY; none where
    // it could not be opened.
    std::unique_ptr<CopySession> copy_;
    std::unique_ptr<Catalog> catalog_;
    std::optional<bool> utf8Server_;  // the server's encoding is UTF-8; unknown until asked
    std::mutex closing_;              // Interrupt against Close on another thread
};

}  // namespace

std::unique_ptr<Database> OpenOdbcDatabase(const std::string& name,
                                           const std::string& connectString, Timeouts timeouts) {
    const std::string driverString =
        IsOdbcConnectString(connectString) ? connectString.substr(5) : connectString;
    auto connection = Connection::Open(driverString, timeouts);
    // Before any statement of the session's transaction: it is to read the
    // snapshot of the COPY session. Without one, every row comes through the
    // driver.
    std::unique_ptr<CopySession> copy;
    if (connection->Kind() == Dbms::PostgreSQL) {
        std::string reason;
        copy = CopySession::Open(*connection, driverString, reason);
    }
    const std::string masked = MaskPasswords(connectString);
    return std::make_unique<OdbcDatabase>(name.empty() ? masked : name, masked,
                                          std::move(connection), std::move(copy));
}

}  // namespace kesmark::odbc
