#include "engine/model/sorted_recordset.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <queue>
#include <string>

#include "engine/model/key_order.h"
#include "engine/model/value_codec.h"

namespace kesmark {

namespace {

constexpr const char* kSource = "Kesmark";

DbError NoCurrentRecord() {
    return DbError(errors::kNoCurrentRecord, "No current record.", kSource);
}

DbError TemporaryFileError(const char* doing) {
    return DbError(-1,
                   std::string("Sorting the rows by key failed: cannot ") + doing +
                       " a temporary file (" + std::strerror(errno) + ").",
                   kSource);
}

// One anonymous temporary file, removed by the system when closed.
struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using TempFile = std::unique_ptr<std::FILE, FileCloser>;

// What a sorted recordset keeps of each column of its source.
struct ColumnInfo {
    std::string name;
    int type = dao::kText;
    std::string sourceTable;
    std::string sourceField;
};

// One row: its encoded cells one after the other; cell c spans
// [cellStart[c], cellStart[c + 1]).
struct EncodedRow {
    std::string bytes;
    std::vector<std::uint32_t> cellStart;

    std::string_view Cell(std::size_t c) const {
        return std::string_view(bytes).substr(cellStart[c], cellStart[c + 1] - cellStart[c]);
    }
};

class SortedRecordset;

class SortedField : public RecordsetField {
  public:
    SortedField(SortedRecordset& owner, std::size_t column) : owner_(owner), column_(column) {}

    std::string Name() override;
    int Type() override;
    Value GetValue() override;
    void AppendEncodedValue(std::string& out) override;
    std::int64_t FieldSize() override;
    Bytes GetChunk(std::int64_t offset, std::size_t count) override;
    std::string SourceTable() override;
    std::string SourceField() override;

  private:
    SortedRecordset& owner_;  // Not owned.
    std::size_t column_;
};

// Reads the rows of one sorted run back from its file.
class RunReader {
  public:
    RunReader(TempFile file, std::size_t cellCount) : file_(std::move(file)), cells_(cellCount) {
        std::rewind(file_.get());
    }

    // Reads the next row into `row`; false at the end of the run.
    bool Next(EncodedRow& row) {
        row.bytes.clear();
        row.cellStart.assign(1, 0);
        for (std::size_t c = 0; c < cells_; ++c) {
            std::uint32_t length = 0;
            if (std::fread(&length, sizeof length, 1, file_.get()) != 1) {
                if (c == 0 && std::feof(file_.get())) {
                    return false;
                }
                throw TemporaryFileError("read");
            }
            const std::size_t at = row.bytes.size();
            row.bytes.resize(at + length);
            if (length > 0 && std::fread(row.bytes.data() + at, 1, length, file_.get()) != length) {
                throw TemporaryFileError("read");
            }
            row.cellStart.push_back(static_cast<std::uint32_t>(row.bytes.size()));
        }
        return true;
    }

  private:
    TempFile file_;
    std::size_t cells_;
};

class SortedRecordset : public Recordset {
  public:
    SortedRecordset(std::unique_ptr<Recordset> source, std::vector<std::size_t> keyColumns,
                    std::size_t visibleColumns, std::size_t runBytes)
        : keyColumns_(std::move(keyColumns)), runBytes_(runBytes) {
        const std::size_t cellCount = source->FieldCount();
        for (std::size_t c = 0; c < cellCount; ++c) {
            RecordsetField& field = source->Field(c);
            columns_.push_back(
                {field.Name(), field.Type(), field.SourceTable(), field.SourceField()});
        }
        columns_.resize(std::min(visibleColumns, cellCount));
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            fields_.push_back(std::make_unique<SortedField>(*this, c));
        }
        cellCount_ = cellCount;
        ReadAndSort(*source);
        source->Close();
        Advance();
    }

    bool IsEof() override { return eof_; }
    void MoveNext() override {
        if (eof_) {
            throw NoCurrentRecord();
        }
        Advance();
    }
    void Move(std::int64_t rows) override {
        for (std::int64_t i = 0; i < rows && !eof_; ++i) {
            Advance();
        }
    }
    void Close() override {
        eof_ = true;
        heap_ = decltype(heap_)(LaterRun{&runs_});
        runs_.clear();
        memoryRows_.clear();
    }
    std::size_t FieldCount() override { return fields_.size(); }
    RecordsetField& Field(std::size_t index) override {
        if (index >= fields_.size()) {
            throw DbError(errors::kItemNotFound, "Item not found in this collection.", kSource);
        }
        return *fields_[index];
    }

    const ColumnInfo& Column(std::size_t c) const { return columns_[c]; }
    std::string_view Cell(std::size_t c) const {
        if (eof_) {
            throw NoCurrentRecord();
        }
        return current_->Cell(c);
    }

  private:
    struct Pending {
        EncodedRow row;
        std::vector<Value> key;
    };

    std::vector<Value> KeyOf(const EncodedRow& row) const {
        std::vector<Value> key;
        key.reserve(keyColumns_.size());
        for (const std::size_t c : keyColumns_) {
            key.push_back(DecodeValue(row.Cell(c)));
        }
        return key;
    }

    static std::size_t Footprint(const Pending& p) {
        std::size_t bytes = sizeof(Pending) + p.row.bytes.size() + 4 * p.row.cellStart.size();
        for (const auto& v : p.key) {
            bytes += sizeof(Value);
            if (const auto* s = v.As<std::string>()) {
                bytes += s->size();
            }
        }
        return bytes;
    }

    void ReadAndSort(Recordset& source) {
        std::vector<Pending> run;
        std::size_t runFootprint = 0;
        std::vector<RecordsetField*> fields;
        for (std::size_t c = 0; c < cellCount_; ++c) {
            fields.push_back(&source.Field(c));
        }
        while (!source.IsEof()) {
            Pending p;
            p.row.cellStart.push_back(0);
            for (RecordsetField* field : fields) {
                field->AppendEncodedValue(p.row.bytes);
                p.row.cellStart.push_back(static_cast<std::uint32_t>(p.row.bytes.size()));
            }
            p.key = KeyOf(p.row);
            runFootprint += Footprint(p);
            run.push_back(std::move(p));
            source.MoveNext();
            if (runFootprint >= runBytes_) {
                SpillRun(run);
                runFootprint = 0;
            }
        }
        SortRun(run);
        if (runs_.empty()) {
            // Everything fits in memory: no file at all.
            memoryRows_.reserve(run.size());
            for (auto& p : run) {
                memoryRows_.push_back(std::move(p.row));
            }
            return;
        }
        if (!run.empty()) {
            SpillRun(run);
        }
        for (std::size_t r = 0; r < runs_.size(); ++r) {
            Refill(r);
        }
    }

    static void SortRun(std::vector<Pending>& run) {
        std::stable_sort(run.begin(), run.end(), [](const Pending& a, const Pending& b) {
            return CompareKeys(a.key, b.key) < 0;
        });
    }

    void SpillRun(std::vector<Pending>& run) {
        SortRun(run);
        TempFile file(std::tmpfile());
        if (!file) {
            throw TemporaryFileError("create");
        }
        for (const auto& p : run) {
            for (std::size_t c = 0; c < cellCount_; ++c) {
                const std::string_view cell = p.row.Cell(c);
                const auto length = static_cast<std::uint32_t>(cell.size());
                if (std::fwrite(&length, sizeof length, 1, file.get()) != 1 ||
                    std::fwrite(cell.data(), 1, cell.size(), file.get()) != cell.size()) {
                    throw TemporaryFileError("write");
                }
            }
        }
        if (std::fflush(file.get()) != 0) {
            throw TemporaryFileError("write");
        }
        runs_.push_back({RunReader(std::move(file), cellCount_), {}, {}});
        run.clear();
    }

    // Reads the next row of run `r` and puts the run back on the heap.
    void Refill(std::size_t r) {
        Run& run = runs_[r];
        if (run.reader.Next(run.row)) {
            run.key = KeyOf(run.row);
            heap_.push(r);
        }
    }

    void Advance() {
        if (!runs_.empty()) {
            if (lastRun_) {
                Refill(*lastRun_);
                lastRun_.reset();
            }
            if (heap_.empty()) {
                eof_ = true;
                return;
            }
            const std::size_t r = heap_.top();
            heap_.pop();
            current_ = &runs_[r].row;
            lastRun_ = r;
            eof_ = false;
            return;
        }
        if (next_ >= memoryRows_.size()) {
            eof_ = true;
            return;
        }
        current_ = &memoryRows_[next_++];
        eof_ = false;
    }

    struct Run {
        RunReader reader;
        EncodedRow row;
        std::vector<Value> key;
    };
    // The heap's order: the smallest key on top; of equal keys the earlier
    // run, so that rows of equal keys keep their reading order.
    struct LaterRun {
        const std::vector<Run>* runs;
        bool operator()(std::size_t a, std::size_t b) const {
            const int c = CompareKeys((*runs)[a].key, (*runs)[b].key);
            return c != 0 ? c > 0 : a > b;
        }
    };

    std::vector<std::size_t> keyColumns_;
    std::size_t runBytes_;
    std::size_t cellCount_ = 0;
    std::vector<ColumnInfo> columns_;
    std::vector<std::unique_ptr<SortedField>> fields_;
    std::vector<Run> runs_;
    std::priority_queue<std::size_t, std::vector<std::size_t>, LaterRun> heap_{LaterRun{&runs_}};
    std::optional<std::size_t> lastRun_;
    std::vector<EncodedRow> memoryRows_;
    std::size_t next_ = 0;
    const EncodedRow* current_ = nullptr;
    bool eof_ = true;
};

std::string SortedField::Name() {
    return owner_.Column(column_).name;
}

int SortedField::Type() {
    return owner_.Column(column_).type;
}

Value SortedField::GetValue() {
    return DecodeValue(owner_.Cell(column_));
}

void SortedField::AppendEncodedValue(std::string& out) {
    out.append(owner_.Cell(column_));
}

std::int64_t SortedField::FieldSize() {
    const Value v = GetValue();
    if (const auto* s = v.As<std::string>()) {
        return static_cast<std::int64_t>(s->size());
    }
    if (const auto* b = v.As<Bytes>()) {
        return static_cast<std::int64_t>(b->size());
    }
    return 0;
}

Bytes SortedField::GetChunk(std::int64_t offset, std::size_t count) {
    const Value v = GetValue();
    std::string_view all;
    if (const auto* s = v.As<std::string>()) {
        all = *s;
    } else if (const auto* b = v.As<Bytes>()) {
        all = std::string_view(reinterpret_cast<const char*>(b->data()), b->size());
    }
    if (offset < 0 || static_cast<std::size_t>(offset) >= all.size()) {
        return {};
    }
    const auto piece = all.substr(static_cast<std::size_t>(offset), count);
    return Bytes(piece.begin(), piece.end());
}

std::string SortedField::SourceTable() {
    return owner_.Column(column_).sourceTable;
}

std::string SortedField::SourceField() {
    return owner_.Column(column_).sourceField;
}

// The rows of one key: every other row is passed over.
class FilteredRecordset : public Recordset {
  public:
    FilteredRecordset(std::unique_ptr<Recordset> source, std::vector<std::size_t> keyColumns,
                      std::vector<Value> keyValues, std::size_t visibleColumns)
        : source_(std::move(source)),
          keyColumns_(std::move(keyColumns)),
          keyValues_(std::move(keyValues)),
          visible_(std::min(visibleColumns, source_->FieldCount())) {
        SkipOthers();
    }

    bool IsEof() override { return source_->IsEof(); }
    void MoveNext() override {
        source_->MoveNext();
        SkipOthers();
    }
    void Move(std::int64_t rows) override {
        for (std::int64_t i = 0; i < rows && !IsEof(); ++i) {
            MoveNext();
        }
    }
    void Close() override { source_->Close(); }
    std::size_t FieldCount() override { return visible_; }
    RecordsetField& Field(std::size_t index) override {
        if (index >= visible_) {
            throw DbError(errors::kItemNotFound, "Item not found in this collection.", kSource);
        }
        return source_->Field(index);
    }

  private:
    void SkipOthers() {
        while (!source_->IsEof() && !Matches()) {
            source_->MoveNext();
        }
    }
    bool Matches() {
        for (std::size_t k = 0; k < keyColumns_.size(); ++k) {
            if (!SameKeyValue(source_->Field(keyColumns_[k]).GetValue(), keyValues_[k])) {
                return false;
            }
        }
        return true;
    }
    // Equal keys; a date also when it is the same to the second, as a row's
    // name writes it (a date read back from its text may differ from the
    // stored one in the last bits of its fraction).
    static bool SameKeyValue(const Value& stored, const Value& wanted) {
        if (CompareKeyValues(stored, wanted) == 0) {
            return true;
        }
        const auto* a = stored.As<DateTime>();
        const auto* b = wanted.As<DateTime>();
        return a && b && FormatDateTime(*a) == FormatDateTime(*b);
    }

    std::unique_ptr<Recordset> source_;
    std::vector<std::size_t> keyColumns_;
    std::vector<Value> keyValues_;
    std::size_t visible_;
};

}  // namespace

std::unique_ptr<Recordset> SortRecordset(std::unique_ptr<Recordset> source,
                                         std::vector<std::size_t> keyColumns,
                                         std::size_t visibleColumns, std::size_t runBytes) {
    return std::make_unique<SortedRecordset>(std::move(source), std::move(keyColumns),
                                             visibleColumns, runBytes);
}

std::unique_ptr<Recordset> FilterRecordset(std::unique_ptr<Recordset> source,
                                           std::vector<std::size_t> keyColumns,
                                           std::vector<Value> keyValues,
                                           std::size_t visibleColumns) {
    return std::make_unique<FilteredRecordset>(std::move(source), std::move(keyColumns),
                                               std::move(keyValues), visibleColumns);
}

}  // namespace kesmark
