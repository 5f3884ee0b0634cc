#include "engine/sync/table_rows.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>

#include "engine/model/dao.h"
#include "engine/model/key_order.h"
#include "engine/model/node_key.h"
#include "engine/model/value_codec.h"

namespace kesmark::sync {

namespace {

constexpr auto kYieldInterval = std::chrono::milliseconds(40);

// Long values up to this size are read whole; longer ones in pieces.
constexpr std::int64_t kLongValueLimit = 1 << 20;
constexpr std::size_t kPiece = 64 << 10;

// Lets the host breathe now and then; false once it asks to cancel.
class Breather {
  public:
    explicit Breather(Host& host) : host_(host), last_(std::chrono::steady_clock::now()) {}
    bool operator()() {
        if ((++calls_ & 255) != 0) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ >= kYieldInterval) {
            last_ = now;
            host_.ProcessPendingEvents();
        }
        return !host_.CancelRequested();
    }

  private:
    Host& host_;  // Not owned.
    std::chrono::steady_clock::time_point last_;
    unsigned calls_ = 0;
};

// One side of the walk: a recordset and its current row, kept encoded
// (value_codec.h) so that equal values compare by their bytes; values are
// decoded only where a row is written or its bytes differ.
class Side {
  public:
    Side(std::unique_ptr<Recordset> recordset, std::vector<std::size_t> keyAt)
        : recordset_(std::move(recordset)), keyAt_(std::move(keyAt)) {
        for (std::size_t f = 0; f < recordset_->FieldCount(); ++f) {
            fields_.push_back(&recordset_->Field(f));
            longField_.push_back(fields_.back()->Type() == dao::kLongBinary ||
                                 fields_.back()->Type() == dao::kMemo);
        }
    }
    // Reads the current row; false at the end.
    bool Load() {
        if (recordset_->IsEof()) {
            return false;
        }
        std::swap(previousKey_, key_);
        bytes_.clear();
        cellStart_.assign(1, 0);
        pending_.assign(fields_.size(), false);
        // The whole row at once where the backend can; a long value past
        // kLongValueLimit stays in the database, read in pieces where it is
        // compared or written (its cell is empty).
        if (!recordset_->AppendEncodedRow(bytes_, cellStart_, kLongValueLimit)) {
            bytes_.clear();
            cellStart_.assign(1, 0);
            for (std::size_t f = 0; f < fields_.size(); ++f) {
                if (longField_[f] && fields_[f]->FieldSize() > kLongValueLimit) {
                    pending_[f] = true;
                } else {
                    fields_[f]->AppendEncodedValue(bytes_);
                }
                cellStart_.push_back(static_cast<std::uint32_t>(bytes_.size()));
            }
        }
        decoded_ = false;
        key_.clear();
        for (const std::size_t at : keyAt_) {
            key_.push_back(DecodeValue(Cell(at)));
        }
        return true;
    }
    void Next() { recordset_->MoveNext(); }
    // True when the current key follows the previous one (first row: true)
    // and has no Null.
    bool InOrder(bool first) const {
        if (std::any_of(key_.begin(), key_.end(), [](const Value& v) { return v.IsNull(); })) {
            return false;
        }
        return first || CompareKeys(previousKey_, key_) < 0;
    }
    std::string_view Cell(std::size_t f) const {
        return std::string_view(bytes_).substr(cellStart_[f], cellStart_[f + 1] - cellStart_[f]);
    }
    // True when the value of field `f` is a long one left in the database.
    bool Pending(std::size_t f) const { return pending_[f]; }
    RecordsetField& Field(std::size_t f) { return *fields_[f]; }
    // Every value of the current row (Null in place of a pending one).
    const std::vector<Value>& Values() {
        if (!decoded_) {
            values_.clear();
            for (std::size_t f = 0; f < fields_.size(); ++f) {
                values_.push_back(pending_[f] ? Value() : DecodeValue(Cell(f)));
            }
            decoded_ = true;
        }
        return values_;
    }
    const std::vector<Value>& Key() const { return key_; }
    bool LongField(std::size_t f) const { return longField_[f]; }
    void Close() { recordset_->Close(); }

  private:
    std::unique_ptr<Recordset> recordset_;
    std::vector<RecordsetField*> fields_;  // Not owned: the recordset's.
    std::vector<std::size_t> keyAt_;
    std::vector<bool> longField_;
    std::string bytes_;
    std::vector<std::uint32_t> cellStart_;  // cell f spans [cellStart_[f], cellStart_[f + 1])
    std::vector<bool> pending_;
    bool decoded_ = false;
    std::vector<Value> values_;
    std::vector<Value> key_;
    std::vector<Value> previousKey_;
};

bool SameValue(const Value& a, const Value& b, bool longField, bool byMeaning) {
    if (a.IsNull() || b.IsNull()) {
        return a.IsNull() && b.IsNull();
    }
    if (longField || a.IsBytes() || b.IsBytes()) {
        const bool comparableBytes = (a.IsBytes() || a.IsText()) && (b.IsBytes() || b.IsText());
        if (comparableBytes) {
            auto bytesOf = [](const Value& v) -> std::string_view {
                if (const auto* s = v.As<std::string>()) {
                    return *s;
                }
                const auto& bytes = *v.As<Bytes>();
                return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
            };
            return bytesOf(a) == bytesOf(b);
        }
    }
    return byMeaning ? ValuesEqualByMeaning(a, b) : VariantEqual(a, b);
}

// Whether field `f1` of `side1`'s row and field `f2` of `side2`'s hold the
// same value: by their encoded bytes, then by value; long values left in
// the database by their lengths and then piece by piece.
bool CellsSame(Side& side1, std::size_t f1, Side& side2, std::size_t f2, bool byMeaning) {
    if (side1.Pending(f1) || side2.Pending(f2)) {
        if (!side1.Pending(f1) || !side2.Pending(f2)) {
            return false;  // one is longer than the limit, the other not
        }
        RecordsetField& a = side1.Field(f1);
        RecordsetField& b = side2.Field(f2);
        const std::int64_t size = a.FieldSize();
        if (size != b.FieldSize()) {
            return false;
        }
        for (std::int64_t offset = 0; offset < size;) {
            const Bytes pieceA = a.GetChunk(offset, kPiece);
            const Bytes pieceB = b.GetChunk(offset, kPiece);
            if (pieceA != pieceB) {
                return false;
            }
            if (pieceA.empty()) {
                break;
            }
            offset += static_cast<std::int64_t>(pieceA.size());
        }
        return true;
    }
    const std::string_view cell1 = side1.Cell(f1);
    const std::string_view cell2 = side2.Cell(f2);
    return cell1 == cell2 ||
           SameValue(DecodeValue(cell1), DecodeValue(cell2), side1.LongField(f1), byMeaning);
}

std::string ColumnList(const std::vector<std::string>& columns) {
    std::string text;
    for (const auto& c : columns) {
        text += (text.empty() ? "" : ", ") + QuoteIdentifier(c);
    }
    return text;
}

// The statements of one table, with the table's quoted name and its columns.
class RowStatements {
  public:
    RowStatements(const TableRows& rows, ScriptOut& out)
        : rows_(rows),
          out_(out),
          table_(rows.target.empty() ? QuoteIdentifier(rows.table) : rows.target) {
        insertHead_ = "INSERT INTO " + table_ + " (" + ColumnList(rows.columns) + ") VALUES (";
    }
    void Insert(Side& row) {
        Header();
        std::string sql = insertHead_;
        const auto& values = row.Values();
        for (std::size_t c = 0; c < rows_.columns.size(); ++c) {
            sql += c ? ", " : "";
            AppendLiteral(sql, row, values, c);
        }
        out_.Piece(sql + ")");
        out_.EndStatement();
    }
    void Delete(const std::vector<Value>& key) {
        Header();
        out_.Statement("DELETE FROM " + table_ + Where(key));
    }
    // Sets `columns` (indexes into rows.columns) to the row's values.
    void Update(Side& row, const std::vector<std::size_t>& columns) {
        Header();
        std::string sql = "UPDATE " + table_ + " SET ";
        const auto& values = row.Values();
        for (std::size_t i = 0; i < columns.size(); ++i) {
            sql += (i ? ", " : "") + QuoteIdentifier(rows_.columns[columns[i]]) + " = ";
            AppendLiteral(sql, row, values, columns[i]);
        }
        out_.Piece(sql + Where(row.Key()));
        out_.EndStatement();
    }
    void DeleteAll() {
        Header();
        out_.Statement("DELETE FROM " + table_);
    }

  private:
    // Appends the literal of column `c` of `row` to `sql`; a long value left
    // in the database goes to the script in pieces, after what `sql` holds.
    void AppendLiteral(std::string& sql, Side& row, const std::vector<Value>& values,
                       std::size_t c) {
        if (!row.Pending(c)) {
            sql += Literal(values[c], out_.GetDialect());
            return;
        }
        out_.Piece(sql);
        sql.clear();
        StreamLongLiteral(row.Field(c), out_.GetDialect(), out_.Stream());
    }

    // The comment that opens the table's rows, before its first statement.
    void Header() {
        if (!headerWritten_) {
            out_.Comment("rows of " + table_);
            headerWritten_ = true;
        }
    }

    std::string Where(const std::vector<Value>& key) const {
        std::string sql = " WHERE ";
        for (std::size_t k = 0; k < key.size(); ++k) {
            sql += (k ? " AND " : "") + QuoteIdentifier(rows_.keyFields[k]) + " = " +
                   Literal(key[k], out_.GetDialect());
        }
        return sql;
    }

    const TableRows& rows_;  // Not owned.
    ScriptOut& out_;         // Not owned.
    std::string table_;
    std::string insertHead_;
    bool headerWritten_ = false;
};

const std::string& Table2(const TableRows& rows) {
    return rows.table2.empty() ? rows.table : rows.table2;
}

bool InTarget(const TableRows& rows, std::size_t c) {
    return rows.inTarget.empty() || rows.inTarget[c];
}

// Database 2's names of the columns it shares with database 1.
std::vector<std::string> TargetColumns(const TableRows& rows) {
    std::vector<std::string> names;
    for (std::size_t c = 0; c < rows.columns.size(); ++c) {
        if (InTarget(rows, c)) {
            names.push_back(rows.columns[c]);
        }
    }
    return names;
}

// The columns read from one side: `columns`, then the key fields that are
// not among them; `keyAt` gets each key field's place.
std::vector<std::string> WithKey(std::vector<std::string> columns,
                                 const std::vector<std::string>& keyFields,
                                 std::vector<std::size_t>& keyAt) {
    for (const auto& k : keyFields) {
        auto it = std::find(columns.begin(), columns.end(), k);
        if (it == columns.end()) {
            columns.push_back(k);
            it = columns.end() - 1;
        }
        keyAt.push_back(static_cast<std::size_t>(it - columns.begin()));
    }
    return columns;
}

bool Fill(Database& db1, const TableRows& rows, RowStatements& statements, Breather& breathe) {
    std::vector<std::size_t> keyAt;
    auto recordset = rows.keyFields.empty()
                         ? db1.OpenRecordset(rows.table, rows.columns)
                         : db1.OpenOrderedRecordset(rows.table, rows.columns, rows.keyFields);
    Side side(std::move(recordset), keyAt);
    while (side.Load()) {
        statements.Insert(side);
        side.Next();
        if (!breathe()) {
            return false;
        }
    }
    side.Close();
    return true;
}

enum class Outcome { Done, Cancelled, OutOfOrder };

Outcome ByKey(Database& db1, Database& db2, const TableRows& rows, RowStatements& statements,
              Breather& breathe, std::string& why) {
    std::vector<std::size_t> keyAt1;
    std::vector<std::size_t> keyAt2;
    const auto read1 = WithKey(rows.columns, rows.keyFields, keyAt1);
    std::vector<std::string> shared = TargetColumns(rows);
    // Database 2 reads its key by its own names.
    std::vector<std::string> read2 = shared;
    for (std::size_t k = 0; k < rows.keyFields.size(); ++k) {
        const auto it = std::find(shared.begin(), shared.end(), rows.keyFields[k]);
        if (it != shared.end()) {
            read2[static_cast<std::size_t>(it - shared.begin())] = rows.keyFields2[k];
        }
    }
    const auto read2WithKey = WithKey(read2, rows.keyFields2, keyAt2);
    Side side1(db1.OpenOrderedRecordset(rows.table, read1, rows.keyFields), keyAt1);
    Side side2(db2.OpenOrderedRecordset(Table2(rows), read2WithKey, rows.keyFields2), keyAt2);
    // Where each of database 1's columns is among database 2's values.
    std::vector<std::optional<std::size_t>> at2;
    for (std::size_t c = 0, shared2 = 0; c < rows.columns.size(); ++c) {
        at2.push_back(InTarget(rows, c) ? std::optional(shared2++) : std::nullopt);
    }
    bool have1 = side1.Load();
    bool have2 = side2.Load();
    bool first1 = true;
    bool first2 = true;
    std::vector<std::size_t> changed;
    while (have1 || have2) {
        if ((have1 && !side1.InOrder(first1)) || (have2 && !side2.InOrder(first2))) {
            why = "its keys do not follow one another in " +
                  std::string(have1 && !side1.InOrder(first1) ? "database 1" : "database 2") +
                  " (a Null or a repeated key)";
            return Outcome::OutOfOrder;
        }
        const int order = !have1 ? 1 : (!have2 ? -1 : CompareKeys(side1.Key(), side2.Key()));
        if (order < 0) {
            statements.Insert(side1);
        } else if (order > 0) {
            statements.Delete(side2.Key());
        } else {
            changed.clear();
            for (std::size_t c = 0; c < rows.columns.size(); ++c) {
                if (!at2[c]) {
                    const std::string_view cell = side1.Cell(c);
                    const bool nullThere = c < rows.nullInTarget.size() && rows.nullInTarget[c];
                    const bool null =
                        !side1.Pending(c) && cell.size() == 1 && cell[0] == value_tags::kNull;
                    if (!nullThere || !null) {
                        changed.push_back(c);
                    }
                } else if (!CellsSame(side1, c, side2, *at2[c], rows.byMeaning)) {
                    changed.push_back(c);
                }
            }
            if (!changed.empty()) {
                statements.Update(side1, changed);
            }
        }
        if (order <= 0) {
            side1.Next();
            have1 = side1.Load();
            first1 = false;
        }
        if (order >= 0) {
            side2.Next();
            have2 = side2.Load();
            first2 = false;
        }
        if (!breathe()) {
            return Outcome::Cancelled;
        }
    }
    side1.Close();
    side2.Close();
    return Outcome::Done;
}

// The rows the comparison found, each read by its key from the side or sides
// that have it. OutOfOrder when a row is not where the comparison saw it.
Outcome Found(Database& db1, Database& db2, const TableRows& rows, RowStatements& statements,
              Breather& breathe) {
    std::vector<std::size_t> keyAt1;
    std::vector<std::size_t> keyAt2;
    const auto read1 = WithKey(rows.columns, rows.keyFields, keyAt1);
    std::vector<std::string> read2 = TargetColumns(rows);
    for (std::size_t k = 0; k < rows.keyFields.size(); ++k) {
        const auto it = std::find(read2.begin(), read2.end(), rows.keyFields[k]);
        if (it != read2.end()) {
            *it = rows.keyFields2[k];
        }
    }
    const auto read2WithKey = WithKey(read2, rows.keyFields2, keyAt2);
    std::vector<std::optional<std::size_t>> at2;
    for (std::size_t c = 0, shared2 = 0; c < rows.columns.size(); ++c) {
        at2.push_back(InTarget(rows, c) ? std::optional(shared2++) : std::nullopt);
    }
    // One side's row of that key, loaded; null when the side has none.
    auto open = [](Database& db, const std::string& table, const std::vector<std::string>& read,
                   const std::vector<std::string>& keyFields, const std::vector<std::size_t>& keyAt,
                   const std::vector<std::string>& texts,
                   const std::vector<int>& types) -> std::unique_ptr<Side> {
        std::vector<Value> key;
        for (std::size_t k = 0; k < texts.size(); ++k) {
            key.push_back(KeyValueFromText(texts[k], types[k]));
        }
        auto side =
            std::make_unique<Side>(db.OpenKeyedRecordset(table, read, keyFields, key), keyAt);
        return side->Load() ? std::move(side) : nullptr;
    };
    std::vector<std::size_t> changed;
    for (const RowFinding& finding : *rows.found) {
        std::vector<std::string> texts;
        if (!SplitRowKey(finding.key, texts) || texts.size() != rows.keyFields.size()) {
            return Outcome::OutOfOrder;
        }
        std::unique_ptr<Side> side1;
        std::unique_ptr<Side> side2;
        if (finding.state != RowState::OnlyIn2) {
            side1 = open(db1, rows.table, read1, rows.keyFields, keyAt1, texts, rows.keyTypes1);
            if (!side1) {
                return Outcome::OutOfOrder;
            }
        }
        if (finding.state != RowState::OnlyIn1) {
            side2 = open(db2, Table2(rows), read2WithKey, rows.keyFields2, keyAt2, texts,
                         rows.keyTypes2);
            if (!side2) {
                return Outcome::OutOfOrder;
            }
        }
        if (!side2) {
            statements.Insert(*side1);
        } else if (!side1) {
            statements.Delete(side2->Key());
        } else {
            changed.clear();
            for (std::size_t c = 0; c < rows.columns.size(); ++c) {
                if (!at2[c]) {
                    const std::string_view cell = side1->Cell(c);
                    const bool nullThere = c < rows.nullInTarget.size() && rows.nullInTarget[c];
                    const bool null =
                        !side1->Pending(c) && cell.size() == 1 && cell[0] == value_tags::kNull;
                    if (!nullThere || !null) {
                        changed.push_back(c);
                    }
                } else if (!CellsSame(*side1, c, *side2, *at2[c], rows.byMeaning)) {
                    changed.push_back(c);
                }
            }
            if (!changed.empty()) {
                statements.Update(*side1, changed);
            }
        }
        if (!breathe()) {
            return Outcome::Cancelled;
        }
    }
    return Outcome::Done;
}

// Whether the two tables differ when their rows are paired by position, in
// each database's natural order, over the shared columns.
std::optional<bool> DifferByPosition(Database& db1, Database& db2, const TableRows& rows,
                                     Breather& breathe) {
    const std::vector<std::string> shared = TargetColumns(rows);
    if (shared.size() != rows.columns.size()) {
        return true;
    }
    Side side1(db1.OpenRecordset(rows.table, shared), {});
    Side side2(db2.OpenRecordset(Table2(rows), shared), {});
    while (true) {
        const bool have1 = side1.Load();
        const bool have2 = side2.Load();
        if (have1 != have2) {
            return true;
        }
        if (!have1) {
            return false;
        }
        for (std::size_t c = 0; c < shared.size(); ++c) {
            if (!CellsSame(side1, c, side2, c, rows.byMeaning)) {
                return true;
            }
        }
        side1.Next();
        side2.Next();
        if (!breathe()) {
            return std::nullopt;
        }
    }
}

bool Replace(Database& db1, Database& db2, const TableRows& rows, RowStatements& statements,
             Breather& breathe) {
    const auto differ = DifferByPosition(db1, db2, rows, breathe);
    if (!differ) {
        return false;
    }
    if (!*differ) {
        return true;
    }
    statements.DeleteAll();
    TableRows natural = rows;
    natural.keyFields.clear();
    return Fill(db1, natural, statements, breathe);
}

}  // namespace

bool WriteTableRows(Database& db1, Database& db2, const TableRows& rows, ScriptOut& out,
                    Host& host) {
    if (rows.columns.empty()) {
        return true;
    }
    Breather breathe(host);
    RowStatements statements(rows, out);
    switch (rows.mode) {
        case TableRows::Mode::Fill:
            return Fill(db1, rows, statements, breathe);
        case TableRows::Mode::Replace:
            return Replace(db1, db2, rows, statements, breathe);
        case TableRows::Mode::ByKey:
            break;
    }
    if (rows.found) {
        ScriptOut::Divert divert(out);
        RowStatements found(rows, out);
        const Outcome outcome = Found(db1, db2, rows, found, breathe);
        if (outcome == Outcome::Done) {
            divert.Keep();
            return true;
        }
        if (outcome == Outcome::Cancelled) {
            return false;
        }
    }
    std::string why;
    Outcome outcome = Outcome::Done;
    {
        ScriptOut::Divert divert(out);
        outcome = ByKey(db1, db2, rows, statements, breathe, why);
        if (outcome == Outcome::Done) {
            divert.Keep();
        }
    }
    if (outcome != Outcome::OutOfOrder) {
        return outcome == Outcome::Done;
    }
    out.Comment("rows of " + (rows.target.empty() ? QuoteIdentifier(rows.table) : rows.target) +
                " replaced: " + why);
    TableRows natural = rows;
    natural.keyFields.clear();
    natural.keyFields2.clear();
    RowStatements replaced(natural, out);
    return Replace(db1, db2, natural, replaced, breathe);
}

}  // namespace kesmark::sync
