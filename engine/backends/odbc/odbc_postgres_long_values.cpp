#include "engine/backends/odbc/odbc_postgres_long_values.h"

#include <algorithm>

#include "engine/model/value_codec.h"

namespace kesmark::odbc {

namespace {

// A long value read in pieces through the statement that `open` runs: its
// rows are the pieces, in order, each its place (from 1) and its bytes.
// Reading on from where the last read ended reads on; going back runs the
// statement again. One piece is held at a time.
class LongValueReader {
  public:
    LongValueReader(std::size_t field, std::function<std::unique_ptr<Recordset>()> open)
        : field_(field), open_(std::move(open)) {}

    std::size_t Field() const { return field_; }

    // Up to `count` bytes from byte `offset`; fewer at the end.
    Bytes Read(std::int64_t offset, std::size_t count) {
        if (!pieces_ || offset < start_) {
            pieces_ = open_();
            start_ = 0;
            Take();
        }
        Bytes out;
        auto at = offset;
        while (out.size() < count && !pieces_->IsEof()) {
            const auto end = start_ + static_cast<std::int64_t>(piece_.size());
            if (at >= end) {
                start_ = end;
                pieces_->MoveNext();
                Take();
                continue;
            }
            const auto from = static_cast<std::size_t>(at - start_);
            const std::size_t n = std::min(count - out.size(), piece_.size() - from);
            out.insert(out.end(), piece_.begin() + static_cast<std::ptrdiff_t>(from),
                       piece_.begin() + static_cast<std::ptrdiff_t>(from + n));
            at += static_cast<std::int64_t>(n);
        }
        return out;
    }

  private:
    // The current row's piece; it must begin where the last one ended.
    void Take() {
        piece_.clear();
        if (pieces_->IsEof()) {
            return;
        }
        const Value place = pieces_->Field(0).GetValue();
        const auto* number = place.As<std::int64_t>();
        if (!number || *number != start_ + 1) {
            throw DbError(-1, "A piece of a long value came out of order.", "PostgreSQL");
        }
        const Value piece = pieces_->Field(1).GetValue();
        if (const auto* bytes = piece.As<Bytes>()) {
            piece_ = *bytes;
        }
    }

    std::size_t field_;
    std::function<std::unique_ptr<Recordset>()> open_;
    std::unique_ptr<Recordset> pieces_;
    std::int64_t start_ = 0;  // the offset of piece_
    Bytes piece_;
};

class LongValuesRecordset;

class LongValuesField : public RecordsetField {
  public:
    LongValuesField(LongValuesRecordset& owner, std::size_t index) : owner_(owner), index_(index) {}

    std::string Name() override;
    int Type() override;
    Value GetValue() override;
    void AppendEncodedValue(std::string& out) override;
    std::int64_t FieldSize() override;
    Bytes GetChunk(std::int64_t offset, std::size_t count) override;
    std::string SourceTable() override;
    std::string SourceField() override;

  private:
    LongValuesRecordset& owner_;  // Not owned.
    std::size_t index_;
};

class LongValuesRecordset : public Recordset {
  public:
    LongValuesRecordset(std::unique_ptr<Recordset> inner, std::size_t fields,
                        std::vector<std::size_t> longFields, std::vector<bool> binary,
                        RowKey rowKey, LongValuePieces pieces)
        : inner_(std::move(inner)),
          longFields_(std::move(longFields)),
          binary_(std::move(binary)),
          rowKey_(std::move(rowKey)),
          pieces_(std::move(pieces)) {
        for (std::size_t i = 0; i < fields; ++i) {
            fields_.push_back(std::make_unique<LongValuesField>(*this, i));
        }
    }

    bool IsEof() override { return inner_->IsEof(); }
    void MoveNext() override {
        Forget();
        inner_->MoveNext();
    }
    void Move(std::int64_t rows) override {
        Forget();
        inner_->Move(rows);
    }
    void Close() override {
        Forget();
        inner_->Close();
    }
    std::size_t FieldCount() override { return fields_.size(); }
    RecordsetField& Field(std::size_t index) override {
        if (index >= fields_.size()) {
            throw DbError(errors::kItemNotFound, "Item not found in this collection.",
                          "PostgreSQL");
        }
        return *fields_[index];
    }

    bool AppendEncodedRow(std::string& out, std::vector<std::uint32_t>& ends,
                          std::int64_t longValueLimit) override {
        // Values held whole are no longer than a piece.
        if (HasLongValue() || longValueLimit < static_cast<std::int64_t>(kLongValuePiece)) {
            return Recordset::AppendEncodedRow(out, ends, longValueLimit);
        }
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            inner_->Field(i).AppendEncodedValue(out);
            ends.push_back(static_cast<std::uint32_t>(out.size()));
        }
        return true;
    }

    RecordsetField& Inner(std::size_t index) { return inner_->Field(index); }
    const Recordset& InnerRecordset() const { return *inner_; }

    // The size of field `index`'s value of the current row when it is long.
    std::optional<std::int64_t> LongSize(std::size_t index) {
        Sizes();
        return sizes_[index];
    }

    Value WholeLongValue(std::size_t index, std::int64_t size) {
        Bytes bytes = Reader(index).Read(0, static_cast<std::size_t>(size));
        if (static_cast<std::int64_t>(bytes.size()) != size) {
            throw DbError(
                -1, "The long value of field " + Inner(index).Name() + " ends before its size.",
                "PostgreSQL");
        }
        if (binary_[index]) {
            return Value(std::move(bytes));
        }
        return Value(std::string(bytes.begin(), bytes.end()));
    }

    Bytes Chunk(std::size_t index, std::int64_t offset, std::size_t count) {
        return offset < 0 ? Bytes() : Reader(index).Read(offset, count);
    }

  private:
    // The sizes of the current row's long values, read once a row.
    void Sizes() {
        if (sizesRead_) {
            return;
        }
        sizes_.assign(fields_.size(), std::nullopt);
        for (std::size_t j = 0; j < longFields_.size(); ++j) {
            const Value size = inner_->Field(fields_.size() + j).GetValue();
            if (const auto* n = size.As<std::int64_t>()) {
                sizes_[longFields_[j]] = *n;
            } else if (!size.IsNull()) {
                throw DbError(-1, "The size of a long value is not a number.", "PostgreSQL");
            }
        }
        sizesRead_ = true;
    }

    bool HasLongValue() {
        Sizes();
        return std::any_of(sizes_.begin(), sizes_.end(),
                           [](const auto& size) { return size.has_value(); });
    }

    LongValueReader& Reader(std::size_t index) {
        if (!reader_ || reader_->Field() != index) {
            std::vector<Value> key;
            if (rowKey_.key) {
                key = *rowKey_.key;
            } else {
                for (const std::size_t k : rowKey_.keyFields) {
                    key.push_back(inner_->Field(k).GetValue());
                }
            }
            reader_ = std::make_unique<LongValueReader>(
                index, [this, index, key] { return pieces_(index, key); });
        }
        return *reader_;
    }

    void Forget() {
        reader_.reset();
        sizesRead_ = false;
    }

    std::unique_ptr<Recordset> inner_;
    std::vector<std::size_t> longFields_;
    std::vector<bool> binary_;
    RowKey rowKey_;
    LongValuePieces pieces_;
    std::vector<std::unique_ptr<LongValuesField>> fields_;
    std::vector<std::optional<std::int64_t>> sizes_;
    bool sizesRead_ = false;
    std::unique_ptr<LongValueReader> reader_;
};

std::string LongValuesField::Name() {
    return owner_.Inner(index_).Name();
}
int LongValuesField::Type() {
    return owner_.Inner(index_).Type();
}
Value LongValuesField::GetValue() {
    if (const auto size = owner_.LongSize(index_)) {
        return owner_.WholeLongValue(index_, *size);
    }
    return owner_.Inner(index_).GetValue();
}
void LongValuesField::AppendEncodedValue(std::string& out) {
    if (const auto size = owner_.LongSize(index_)) {
        EncodeValue(owner_.WholeLongValue(index_, *size), out);
        return;
    }
    owner_.Inner(index_).AppendEncodedValue(out);
}
std::int64_t LongValuesField::FieldSize() {
    if (const auto size = owner_.LongSize(index_)) {
        return *size;
    }
    return owner_.Inner(index_).FieldSize();
}
Bytes LongValuesField::GetChunk(std::int64_t offset, std::size_t count) {
    if (owner_.LongSize(index_)) {
        return owner_.Chunk(index_, offset, count);
    }
    return owner_.Inner(index_).GetChunk(offset, count);
}
std::string LongValuesField::SourceTable() {
    return owner_.Inner(index_).SourceTable();
}
std::string LongValuesField::SourceField() {
    return owner_.Inner(index_).SourceField();
}

}  // namespace

bool MayBeLong(std::string_view typeName) {
    return typeName == "text" || typeName == "varchar" || typeName == "bytea";
}

LongValueColumns SelectWithLongValueSizes(const std::vector<std::string>& quoted,
                                          const std::vector<std::string>& typeNames,
                                          const std::vector<bool>& kept) {
    const std::string limit = std::to_string(kLongValuePiece);
    LongValueColumns columns;
    std::string sizes;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        const std::string& q = quoted[i];
        columns.selectList += i ? ", " : "";
        if (i < typeNames.size() && MayBeLong(typeNames[i]) && !(i < kept.size() && kept[i])) {
            const std::string tooLong = "octet_length(" + q + ") > " + limit;
            columns.selectList += "CASE WHEN " + tooLong + " THEN NULL ELSE " + q + " END";
            sizes += ", CASE WHEN " + tooLong + " THEN octet_length(" + q + ") END";
            columns.longFields.push_back(i);
        } else {
            columns.selectList += q;
        }
    }
    columns.selectList += sizes;
    return columns;
}

std::string LongValuePiecesSql(std::string_view source, std::string_view value, bool binary,
                               std::string_view where) {
    // The value, made once in the subquery (OFFSET 0 keeps it apart),
    // detoasted, so that each piece is cut from it in memory;
    // substring(v, at, n) rather than "FROM at FOR n": the driver reads a
    // statement that holds " FOR " whole, not through a cursor.
    const std::string piece = std::to_string(kLongValuePiece);
    const std::string bytes = binary ? "(" + std::string(value) + " || ''::bytea)"
                                     : "convert_to(" + std::string(value) + ", 'UTF8')";
    return "SELECT kesmark_at, substring(kesmark_value.v, kesmark_at::integer, " + piece +
           ") FROM (SELECT " + bytes + " AS v FROM " + std::string(source) + " WHERE " +
           std::string(where) +
           " OFFSET 0) AS kesmark_value CROSS JOIN LATERAL generate_series(1, "
           "octet_length(kesmark_value.v)::bigint, " +
           piece + ") AS kesmark_at";
}

std::unique_ptr<Recordset> WithLongValuesInPieces(std::unique_ptr<Recordset> inner,
                                                  std::size_t fields,
                                                  std::vector<std::size_t> longFields,
                                                  std::vector<bool> binary, RowKey rowKey,
                                                  LongValuePieces pieces) {
    if (longFields.empty()) {
        return inner;
    }
    return std::make_unique<LongValuesRecordset>(std::move(inner), fields, std::move(longFields),
                                                 std::move(binary), std::move(rowKey),
                                                 std::move(pieces));
}

const Recordset& InnerOf(const Recordset& recordset) {
    const auto* wrapper = dynamic_cast<const LongValuesRecordset*>(&recordset);
    return wrapper ? wrapper->InnerRecordset() : recordset;
}

}  // namespace kesmark::odbc
