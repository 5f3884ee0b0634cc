#include "engine/compare/table_data.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/compare/matching.h"
#include "engine/model/key_order.h"
#include "engine/model/node_key.h"
#include "engine/model/text.h"
#include "engine/model/value_codec.h"

namespace kesmark {

namespace {

// Time between two yields to the user interface inside the record loop, and
// between two looks at the cancel flag while waiting for a database.
constexpr auto kYieldInterval = std::chrono::milliseconds(40);

// A long value too long to send whole travels as this tag and its 8-byte
// size (value_codec.h uses tags below it); the consumer then reads both
// values in pieces from the recordsets, which stay on that record meanwhile.
constexpr char kLongValueTag = 0x7F;

void AppendLongValueMarker(std::int64_t size, std::string& out) {
    char raw[1 + sizeof size];
    raw[0] = kLongValueTag;
    std::memcpy(raw + 1, &size, sizeof size);
    out.append(raw, sizeof raw);
}

bool IsLongValueMarker(std::string_view cell) {
    return cell.size() == 1 + sizeof(std::int64_t) && cell[0] == kLongValueTag;
}

// A run of rows of one database, encoded (value_codec.h) one after the other
// in `bytes`; cell c of the batch spans bytes [cellStart[c], cellStart[c + 1]).
struct RowBatch {
    std::string bytes;
    std::vector<std::uint32_t> cellStart{0};
    std::size_t rows = 0;
    bool last = false;  // no rows follow (end of table, or an error)
    // The last row holds a long value: its producer keeps the recordset on
    // that row until the consumer lets it go on.
    bool parked = false;
    std::optional<DbError> error;
};

// A bounded single-producer, single-consumer queue of batches.
class BatchQueue {
  public:
    // Blocks while the queue is full; returns false when the consumer stopped.
    bool Push(RowBatch batch, const std::atomic<bool>& stop) {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock,
                      [&] { return queue_.size() < TableDataComparison::kQueueDepth || stop; });
        if (stop) {
            return false;
        }
        queue_.push_back(std::move(batch));
        notEmpty_.notify_one();
        return true;
    }
    // The next batch; while none has come, `waiting` is called every
    // kYieldInterval, and a false from it gives up (nullopt).
    std::optional<RowBatch> Pop(const std::function<bool()>& waiting) {
        std::unique_lock lock(mutex_);
        while (!notEmpty_.wait_for(lock, kYieldInterval, [&] { return !queue_.empty(); })) {
            lock.unlock();
            const bool goOn = waiting();
            lock.lock();
            if (!goOn) {
                return std::nullopt;
            }
        }
        RowBatch batch = std::move(queue_.front());
        queue_.pop_front();
        notFull_.notify_one();
        return batch;
    }
    // The producer of a parked batch: blocks until the consumer lets it go
    // on (true) or the consumer stopped (false).
    bool WaitForRelease(const std::atomic<bool>& stop) {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [&] { return release_ || stop; });
        release_ = false;
        return !stop;
    }
    void Release() {
        std::lock_guard lock(mutex_);
        release_ = true;
        released_.notify_one();
    }
    void WakeProducer() {
        std::lock_guard lock(mutex_);
        notFull_.notify_all();
        released_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable notFull_;
    std::condition_variable notEmpty_;
    std::condition_variable released_;
    bool release_ = false;
    std::deque<RowBatch> queue_;
};

using RecordsetOpener = std::function<std::unique_ptr<Recordset>()>;

RowBatch FailedBatch(DbError error) {
    RowBatch failed;
    failed.last = true;
    failed.error = std::move(error);
    return failed;
}

// What one side of a pass reads: the database's name, the table and the
// fields, in the recordset's order; for the messages of its errors.
struct ReadLabel {
    std::string database;
    std::string table;
    std::vector<std::string> fields;
};

// The error of reading one database's table, with the database, the table
// and the field being read in front, unless the backend's own message names
// the database already.
DbError ReadingError(const DbError& error, const ReadLabel& label,
                     std::optional<std::size_t> field) {
    if (error.Description().find("'" + label.database + "'") != std::string::npos) {
        return error;
    }
    std::string what = "'" + label.database + "': reading ";
    if (field && *field < label.fields.size()) {
        what += "field '" + label.fields[*field] + "' of ";
    }
    what += "table '" + label.table + "': ";
    return DbError(error.Number(), what + error.Description(), error.Source());
}

bool IsLongType(int type) {
    return type == dao::kLongBinary || type == dao::kMemo;
}

// Opens one recordset and reads it into the queue until its end, an error or
// a stop; the DAO types of its fields go to `types`, and the recordset to
// `opened`, before the first batch. Fields whose first difference is already
// known are sent as Null. A long value of a field marked in `inPieces`
// longer than kLongValuePiece is not read: its size goes, the batch ends with
// its row, and the recordset stays on that row until the consumer has
// compared it (reading it through `opened`).
void Produce(const RecordsetOpener& open, const ReadLabel& label, BatchQueue& queue,
             const std::atomic<bool>& stop, const std::vector<std::atomic<bool>>& decided,
             std::vector<int>& types, const std::vector<bool>& inPieces, Recordset*& opened) {
    const std::size_t fieldCount = decided.size();
    std::optional<std::size_t> reading;  // the field whose value is being read
    try {
        auto recordset = open();
        std::vector<RecordsetField*> fields;
        std::vector<bool> longField;
        for (std::size_t f = 0; f < fieldCount; ++f) {
            fields.push_back(&recordset->Field(f));
            types.push_back(fields.back()->Type());
            longField.push_back(inPieces[f] && IsLongType(types.back()));
        }
        opened = recordset.get();
        while (!stop) {
            RowBatch batch;
            batch.cellStart.reserve(TableDataComparison::kBatchRows * fieldCount + 1);
            // Room for a full batch and the row that passes its limit.
            batch.bytes.reserve(TableDataComparison::kBatchBytes + (64 << 10));
            // While every field is wanted, the backend encodes whole rows,
            // but for a row with a value to read in pieces.
            const bool wholeRows = std::none_of(decided.begin(), decided.end(), [](const auto& d) {
                return d.load(std::memory_order_relaxed);
            });
            const std::int64_t longValueLimit =
                std::any_of(longField.begin(), longField.end(), [](bool l) { return l; })
                    ? static_cast<std::int64_t>(kLongValuePiece)
                    : std::numeric_limits<std::int64_t>::max();
            while (batch.rows < TableDataComparison::kBatchRows &&
                   batch.bytes.size() < TableDataComparison::kBatchBytes) {
                if (recordset->IsEof()) {
                    batch.last = true;
                    break;
                }
                bool encoded = false;
                if (wholeRows) {
                    // A field that fails to read has no end yet: the count
                    // of ends this row has so far names it.
                    const std::size_t ends = batch.cellStart.size();
                    try {
                        encoded = recordset->AppendEncodedRow(batch.bytes, batch.cellStart,
                                                              longValueLimit);
                    } catch (...) {
                        reading = batch.cellStart.size() - ends;
                        throw;
                    }
                }
                if (!encoded) {
                    for (std::size_t f = 0; f < fieldCount; ++f) {
                        if (decided[f].load(std::memory_order_relaxed)) {
                            batch.bytes.push_back(value_tags::kNull);
                        } else {
                            reading = f;
                            const std::int64_t size = longField[f] ? fields[f]->FieldSize() : 0;
                            if (size > static_cast<std::int64_t>(kLongValuePiece)) {
                                AppendLongValueMarker(size, batch.bytes);
                                batch.parked = true;
                            } else {
                                fields[f]->AppendEncodedValue(batch.bytes);
                            }
                            reading.reset();
                        }
                        batch.cellStart.push_back(static_cast<std::uint32_t>(batch.bytes.size()));
                    }
                }
                ++batch.rows;
                if (batch.parked) {
                    break;
                }
                recordset->MoveNext();
            }
            const bool last = batch.last;
            const bool parked = batch.parked;
            if (!queue.Push(std::move(batch), stop) || last) {
                break;
            }
            if (parked) {
                if (!queue.WaitForRelease(stop)) {
                    break;
                }
                recordset->MoveNext();
            }
        }
        recordset->Close();
    } catch (const DbError& e) {
        queue.Push(FailedBatch(ReadingError(e, label, reading)), stop);
    } catch (const std::exception& e) {
        queue.Push(FailedBatch(ReadingError(DbError(-1, e.what(), "Kesmark"), label, reading)),
                   stop);
    }
}

// The consumer's view of one side: the current batch and the row in it.
struct Cursor {
    BatchQueue& queue;
    const std::function<bool()>& waiting;
    RowBatch batch;
    std::size_t row = 0;
    bool ended = false;
    bool cancelled = false;

    // Makes the current row valid, taking the next batch when this one is
    // used up (leaving the row of a parked batch lets its producer go on);
    // false at the end of the table, or when the wait for a batch was
    // cancelled. Throws the producer's error.
    bool Next() {
        while (!ended && row >= batch.rows) {
            if (batch.parked) {
                batch.parked = false;
                queue.Release();
            }
            if (batch.last) {
                ended = true;
                break;
            }
            auto next = queue.Pop(waiting);
            if (!next) {
                cancelled = true;
                return false;
            }
            batch = std::move(*next);
            row = 0;
            if (batch.error) {
                throw *batch.error;
            }
        }
        return !ended;
    }
    // True on the row whose producer waits (a long value is in it).
    bool AtParkedRow() const { return batch.parked && row + 1 == batch.rows; }
    std::string_view Cell(std::size_t field, std::size_t fieldCount) const {
        const std::size_t c = row * fieldCount + field;
        return std::string_view(batch.bytes)
            .substr(batch.cellStart[c], batch.cellStart[c + 1] - batch.cellStart[c]);
    }
    // The encoded bytes of the whole current row.
    std::string_view Row(std::size_t fieldCount) const {
        const std::size_t first = row * fieldCount;
        return std::string_view(batch.bytes)
            .substr(batch.cellStart[first],
                    batch.cellStart[first + fieldCount] - batch.cellStart[first]);
    }
};

// True when two encoded cells of a field hold equal values: same bytes, or
// equal once decoded, by the variant rules (5 and 5.0) or, `byMeaning`, by
// what the values mean across engines (ValuesEqualByMeaning).
bool CellsEqual(std::string_view cell1, std::string_view cell2, bool longField, bool byMeaning) {
    if (cell1 == cell2) {
        return true;
    }
    const Value v1 = DecodeValue(cell1);
    const Value v2 = DecodeValue(cell2);
    if (v1.IsNull() || v2.IsNull()) {
        return v1.IsNull() && v2.IsNull();
    }
    if (longField) {
        return LongValuesEqual(v1, v2);
    }
    return byMeaning ? ValuesEqualByMeaning(v1, v2) : VariantEqual(v1, v2);
}

// The two reader threads of one pass and the consumer's cursors over them.
// The threads are joined (and the recordsets gone) when it is destroyed.
class Pipeline {
  public:
    // The fields marked in `inPieces` may hold long values read in pieces.
    Pipeline(RecordsetOpener open1, RecordsetOpener open2, ReadLabel label1, ReadLabel label2,
             std::size_t fieldCount, std::vector<bool> inPieces, std::function<bool()> waiting)
        : label1_(std::move(label1)),
          label2_(std::move(label2)),
          decided_(fieldCount),
          inPieces_(std::move(inPieces)),
          waiting_(std::move(waiting)),
          side1_{queue1_, waiting_, {}, 0, false, false},
          side2_{queue2_, waiting_, {}, 0, false, false} {
        reader1_ = std::thread([this, open1 = std::move(open1)] {
            Produce(open1, label1_, queue1_, stop_, decided_, types1_, inPieces_, recordset1_);
        });
        reader2_ = std::thread([this, open2 = std::move(open2)] {
            Produce(open2, label2_, queue2_, stop_, decided_, types2_, inPieces_, recordset2_);
        });
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;
    ~Pipeline() { Stop(); }

    // Stops both readers: a reader blocked on a full queue sees the stop flag.
    void Stop() {
        stop_ = true;
        queue1_.WakeProducer();
        queue2_.WakeProducer();
        if (reader1_.joinable()) {
            reader1_.join();
        }
        if (reader2_.joinable()) {
            reader2_.join();
        }
    }

    Cursor& Side1() { return side1_; }
    Cursor& Side2() { return side2_; }
    std::vector<std::atomic<bool>>& Decided() { return decided_; }
    // The DAO types of database 1's fields, known once its first batch came.
    const std::vector<int>& Types1() const { return types1_; }

    // Whether the cells of field `f` on the current rows hold equal values:
    // as CellsEqual, and long values read in pieces on both sides compared
    // piece by piece while both readers wait on their records.
    bool FieldEqual(std::size_t f, std::size_t fieldCount, bool longField, bool byMeaning) {
        const std::string_view cell1 = side1_.Cell(f, fieldCount);
        const std::string_view cell2 = side2_.Cell(f, fieldCount);
        const bool long1 = IsLongValueMarker(cell1);
        const bool long2 = IsLongValueMarker(cell2);
        if (!long1 && !long2) {
            return CellsEqual(cell1, cell2, longField, byMeaning);
        }
        return long1 && long2 && LongFieldsEqual(recordset1_->Field(f), recordset2_->Field(f));
    }
    // True when either side's current row waits with a long value in it.
    bool AtParkedRows() const { return side1_.AtParkedRow() || side2_.AtParkedRow(); }

  private:
    std::atomic<bool> stop_{false};
    ReadLabel label1_;
    ReadLabel label2_;
    std::vector<std::atomic<bool>> decided_;
    std::vector<bool> inPieces_;
    std::function<bool()> waiting_;
    BatchQueue queue1_;
    BatchQueue queue2_;
    std::vector<int> types1_;
    std::vector<int> types2_;
    Recordset* recordset1_ = nullptr;  // owned by its reader thread
    Recordset* recordset2_ = nullptr;
    Cursor side1_;
    Cursor side2_;
    std::thread reader1_;
    std::thread reader2_;
};

// Yields to the user interface at most every kYieldInterval, and tells
// whether the comparison may go on (no cancel asked for).
class YieldPoint {
  public:
    explicit YieldPoint(Host& host) : host_(host) {}
    bool operator()() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ >= kYieldInterval) {
            host_.ProcessPendingEvents();
            last_ = now;
        }
        return !host_.CancelRequested();
    }

  private:
    Host& host_;  // Not owned.
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// CompareKeyValues over two keys as their encoded cells (one after the
// other), decoding only what it must: two integers compare as such, and two
// identical encodings are one value.
int CompareEncodedKeys(std::string_view a, std::string_view b) {
    constexpr std::size_t kIntegerCell = 1 + sizeof(std::int64_t);
    if (a.size() == kIntegerCell && b.size() == kIntegerCell && a[0] == value_tags::kInteger &&
        b[0] == value_tags::kInteger) {
        // The usual key: one integer.
        std::int64_t x = 0;
        std::int64_t y = 0;
        std::memcpy(&x, a.data() + 1, sizeof x);
        std::memcpy(&y, b.data() + 1, sizeof y);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    while (!a.empty() && !b.empty()) {
        const std::size_t lengthA = EncodedCellLength(a);
        const std::size_t lengthB = EncodedCellLength(b);
        const std::string_view cellA = a.substr(0, lengthA);
        const std::string_view cellB = b.substr(0, lengthB);
        int order = 0;
        if (cellA[0] == value_tags::kInteger && cellB[0] == value_tags::kInteger) {
            std::int64_t x = 0;
            std::int64_t y = 0;
            std::memcpy(&x, cellA.data() + 1, sizeof x);
            std::memcpy(&y, cellB.data() + 1, sizeof y);
            order = x < y ? -1 : (x > y ? 1 : 0);
        } else if (cellA != cellB) {
            order = CompareKeyValues(DecodeValue(cellA), DecodeValue(cellB));
        }
        if (order != 0) {
            return order;
        }
        a.remove_prefix(lengthA);
        b.remove_prefix(lengthB);
    }
    return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
}

// The values of a key's encoded cells.
std::vector<Value> DecodeKey(std::string_view cells) {
    std::vector<Value> key;
    while (!cells.empty()) {
        const std::size_t length = EncodedCellLength(cells);
        key.push_back(DecodeValue(cells.substr(0, length)));
        cells.remove_prefix(length);
    }
    return key;
}

// True when a key's encoded cells hold a Null.
bool HasNull(std::string_view cells) {
    while (!cells.empty()) {
        if (cells[0] == value_tags::kNull) {
            return true;
        }
        cells.remove_prefix(EncodedCellLength(cells));
    }
    return false;
}

std::string KeyFieldsText(const std::vector<std::string>& keyFields) {
    std::string text;
    for (const auto& f : keyFields) {
        text += (text.empty() ? "" : ", ") + f;
    }
    return text;
}

}  // namespace

bool LongFieldsEqual(RecordsetField& a, RecordsetField& b) {
    auto pieces = [](RecordsetField& field) {
        return LongValueReader{field.FieldSize(), [&field](std::int64_t offset, std::size_t count) {
                                   return field.GetChunk(offset, count);
                               }};
    };
    return LongValuesEqualInPieces(pieces(a), pieces(b));
}

bool LongValuesEqual(const Value& a, const Value& b) {
    auto bytesOf = [](const Value& v) -> std::optional<std::string_view> {
        if (const auto* s = v.As<std::string>()) {
            return std::string_view(*s);
        }
        if (const auto* bytes = v.As<Bytes>()) {
            return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        }
        return std::nullopt;
    };
    const auto ba = bytesOf(a);
    const auto bb = bytesOf(b);
    if (ba && bb) {
        return *ba == *bb;
    }
    return VariantEqual(a, b);
}

bool IsOnAServer(const Database& db) {
    return db.Kind().backend == "ODBC";
}

std::string RowKeyText(const std::vector<Value>& key) {
    std::vector<std::string> texts;
    texts.reserve(key.size());
    for (const auto& v : key) {
        texts.push_back(KeyValueText(v));
    }
    return JoinRowKey(texts);
}

RecordPairing PlanPairing(Database& db1, Database& db2, std::string_view table,
                          const DataOptions& options, std::string_view table2,
                          bool ignoreNameCase) {
    RecordPairing pairing;
    pairing.maxRows = std::max<std::int64_t>(options.maxRows, 0);
    try {
        if (!ignoreNameCase && (table2.empty() || table2 == table)) {
            if (const auto key = SharedKey(db1, db2, table)) {
                pairing.keyFields = key->fields;
                pairing.keyFields2 = key->fields;
            }
        } else {
            // As SharedKey, with database 2's own names of the table and of
            // the key fields.
            const auto keys1 = db1.CandidateKeys(table);
            const auto keys2 = keys1.empty() ? std::vector<TableKey>()
                                             : db2.CandidateKeys(table2.empty() ? table : table2);
            auto same = [ignoreNameCase](const std::string& a, const std::string& b) {
                return ignoreNameCase ? FoldAsciiCase(a) == FoldAsciiCase(b) : a == b;
            };
            for (const auto& key1 : keys1) {
                for (const auto& key2 : keys2) {
                    if (key2.fields.size() != key1.fields.size()) {
                        continue;
                    }
                    std::vector<std::string> names2;
                    for (const auto& name1 : key1.fields) {
                        const auto found = std::find_if(
                            key2.fields.begin(), key2.fields.end(),
                            [&](const std::string& name2) { return same(name1, name2); });
                        if (found == key2.fields.end()) {
                            break;
                        }
                        names2.push_back(*found);
                    }
                    if (names2.size() == key1.fields.size()) {
                        pairing.keyFields = key1.fields;
                        pairing.keyFields2 = std::move(names2);
                        break;
                    }
                }
                if (!pairing.keyFields.empty()) {
                    break;
                }
            }
        }
    } catch (const std::exception&) {
        // Indexes that cannot be read give no key; the index walk says so.
    }
    pairing.byKey = options.matching == RecordMatching::Key && !pairing.keyFields.empty();
    pairing.checksums = pairing.byKey && options.checksums == ChecksumUse::Auto &&
                        (IsOnAServer(db1) || IsOnAServer(db2));
    pairing.checksumRangeRows = std::max<std::int64_t>(options.checksumRangeRows, 1);
    return pairing;
}

void TableDataComparison::ReadDatabase2As(std::string table, std::vector<std::string> fields) {
    table2_ = std::move(table);
    fields2_ = std::move(fields);
}

const std::string& TableDataComparison::Table2() const {
    return table2_.empty() ? table_ : table2_;
}

const std::vector<std::string>& TableDataComparison::Fields2() const {
    return fields2_.size() == fields_.size() ? fields2_ : fields_;
}

const std::vector<std::string>& TableDataComparison::KeyFields2() const {
    return pairing_.keyFields2.size() == pairing_.keyFields.size() ? pairing_.keyFields2
                                                                   : pairing_.keyFields;
}

TableDataComparison::TableDataComparison(Database& db1, Database& db2, std::string table,
                                         std::vector<std::string> fields, Host& host,
                                         RecordPairing pairing)
    : db1_(db1),
      db2_(db2),
      table_(std::move(table)),
      fields_(std::move(fields)),
      host_(host),
      pairing_(std::move(pairing)),
      firstDifference_(fields_.size(), 0) {}

void TableDataComparison::Reset() {
    std::fill(firstDifference_.begin(), firstDifference_.end(), 0);
    recordsCompared_ = 0;
    matchedByKey_ = false;
    counts_ = {};
    rows_.clear();
    matchedByChecksums_ = false;
    rangesCompared_ = 0;
    position1_ = 1;
}

bool TableDataComparison::Run() {
    Reset();
    fallbackReason_.clear();
    if (fields_.empty()) {
        return true;
    }
    checksumFallback_.clear();
    if (pairing_.byKey && !pairing_.keyFields.empty() && pairing_.checksums) {
        switch (RunByChecksums()) {
            case Outcome::Done:
                matchedByKey_ = true;
                matchedByChecksums_ = true;
                MarkLostRows();
                return true;
            case Outcome::Cancelled:
                return false;
            case Outcome::OutOfOrder:
            case Outcome::Untrusted:
                // The rows are read whole, as without checksums, and say
                // themselves what they say of the key order.
                Reset();
                fallbackReason_.clear();
                break;
        }
    }
    if (pairing_.byKey && !pairing_.keyFields.empty()) {
        switch (RunByKey()) {
            case Outcome::Done:
                matchedByKey_ = true;
                return true;
            case Outcome::Cancelled:
                return false;
            case Outcome::OutOfOrder:
            case Outcome::Untrusted:
                Reset();
                break;
        }
    }
    return RunByPosition();
}

TableDataComparison::Outcome TableDataComparison::RunByKey(const KeyRange* range,
                                                           std::int64_t firstPosition) {
    // The key fields travel with the compared fields; those not asked for
    // are read after them.
    // Database 2 reads the same columns by its own names.
    std::vector<std::string> read = fields_;
    std::vector<std::string> read2 = Fields2();
    std::vector<std::size_t> keyAt;
    const auto& keyFields = pairing_.keyFields;
    const auto& keyFields2 = KeyFields2();
    for (std::size_t k = 0; k < keyFields.size(); ++k) {
        auto it = std::find(read.begin(), read.end(), keyFields[k]);
        if (it == read.end()) {
            read.push_back(keyFields[k]);
            read2.push_back(keyFields2[k]);
            it = read.end() - 1;
        }
        keyAt.push_back(static_cast<std::size_t>(it - read.begin()));
    }
    const std::size_t fieldCount = read.size();
    const std::size_t reported = fields_.size();
    // Long values are read in pieces in the fields compared, not in the key.
    std::vector<bool> inPieces(fieldCount, false);
    for (std::size_t f = 0; f < reported; ++f) {
        inPieces[f] = std::find(keyAt.begin(), keyAt.end(), f) == keyAt.end();
    }
    const std::string& table2 = Table2();

    bool cancelled = false;
    YieldPoint yieldAndCheck(host_);
    auto open1 = [&, read]() {
        return range ? db1_.OpenRangeRecordset(table_, read, keyFields, *range)
                     : db1_.OpenOrderedRecordset(table_, read, keyFields);
    };
    auto open2 = [&, read2]() {
        return range ? db2_.OpenRangeRecordset(table2, read2, keyFields2, *range)
                     : db2_.OpenOrderedRecordset(table2, read2, keyFields2);
    };
    Pipeline pipeline(open1, open2, ReadLabel{db1_.Name(), table_, read},
                      ReadLabel{db2_.Name(), table2, read2}, fieldCount, inPieces,
                      [&] { return yieldAndCheck(); });
    Cursor& side1 = pipeline.Side1();
    Cursor& side2 = pipeline.Side2();

    // The current and the previous key of each side, as their encoded
    // cells, to check the order: two buffers that take turns.
    struct KeyPair {
        std::array<std::string, 2> buffers;
        std::size_t current = 0;
        std::string& Key() { return buffers[current]; }
        std::string& Previous() { return buffers[current ^ 1]; }
    };
    KeyPair keys1;
    KeyPair keys2;
    auto outOfOrder = [&](int database, std::string_view previous, std::string_view key) {
        if (!fallbackReason_.empty()) {
            return;  // the first reason is the one to give
        }
        const std::string lead = "The rows of table '" + table_ + "' in database " +
                                 std::to_string(database) + " cannot be matched by its key (" +
                                 KeyFieldsText(keyFields) + "): ";
        std::string why;
        if (HasNull(key)) {
            why = "a row has no value (Null) in its key";
        } else if (CompareEncodedKeys(previous, key) == 0) {
            why = "the key " + RowKeyText(DecodeKey(key)) + " is there twice";
        } else {
            why = "the database gives the key " + RowKeyText(DecodeKey(key)) + " after " +
                  RowKeyText(DecodeKey(previous)) + ", which does not follow the key order";
        }
        fallbackReason_ = lead + why + ". Its records are matched by position.";
    };
    // Moves one side to its next row (`first`: to its first row) and reads
    // its key; false at the end or when cancelled. A key out of order gives
    // the reason to fall back to position.
    auto step = [&](Cursor& side, KeyPair& keys, int database, bool first) {
        if (!first) {
            ++side.row;
        }
        if (!side.Next()) {
            return false;
        }
        keys.current ^= 1;
        std::string& key = keys.Key();
        const std::string& previous = keys.Previous();
        key.clear();
        for (const std::size_t at : keyAt) {
            key.append(side.Cell(at, fieldCount));
        }
        if (HasNull(key) || (!first && CompareEncodedKeys(previous, key) >= 0)) {
            outOfOrder(database, previous, key);
        }
        return true;
    };
    auto keep = [&](RowState state, std::string_view key) {
        if (static_cast<std::int64_t>(rows_.size()) < pairing_.maxRows) {
            rows_.push_back({state, DecodeKey(key)});
        }
    };

    bool have1 = step(side1, keys1, 1, true);
    bool have2 = step(side2, keys2, 2, true);
    std::vector<bool> longField;
    std::int64_t position1 = firstPosition;  // the current row's place in database 1's key order
    while ((have1 || have2) && fallbackReason_.empty()) {
        if (side1.cancelled || side2.cancelled) {
            break;
        }
        const int order = !have1 ? 1 : (!have2 ? -1 : CompareEncodedKeys(keys1.Key(), keys2.Key()));
        if (order < 0) {
            ++counts_.onlyIn1;
            keep(RowState::OnlyIn1, keys1.Key());
            have1 = step(side1, keys1, 1, false);
            ++position1;
        } else if (order > 0) {
            ++counts_.onlyIn2;
            keep(RowState::OnlyIn2, keys2.Key());
            have2 = step(side2, keys2, 2, false);
        } else {
            bool changed = false;
            if (pipeline.AtParkedRows() || side1.Row(fieldCount) != side2.Row(fieldCount)) {
                if (longField.empty()) {
                    for (const int type : pipeline.Types1()) {
                        longField.push_back(IsLongType(type));
                    }
                }
                for (std::size_t f = 0; f < fieldCount; ++f) {
                    if (!pipeline.FieldEqual(f, fieldCount, longField[f], byMeaning_)) {
                        changed = true;
                        if (f < reported && firstDifference_[f] == 0) {
                            firstDifference_[f] = position1;
                        }
                    }
                }
            }
            if (changed) {
                ++counts_.changed;
                keep(RowState::Changed, keys1.Key());
            } else {
                ++counts_.same;
            }
            have1 = step(side1, keys1, 1, false);
            have2 = step(side2, keys2, 2, false);
            ++position1;
        }
        ++recordsCompared_;
        if ((recordsCompared_ & 1023) == 0 && !yieldAndCheck()) {
            cancelled = true;
            break;
        }
    }
    cancelled = cancelled || side1.cancelled || side2.cancelled;
    pipeline.Stop();
    if (cancelled) {
        return Outcome::Cancelled;
    }
    if (!range) {
        MarkLostRows();
    }
    return fallbackReason_.empty() ? Outcome::Done : Outcome::OutOfOrder;
}

void TableDataComparison::MarkLostRows() {
    // A side that gave fewer rows than both databases count has lost rows
    // no key can name: every field not found different yet differs at the
    // first record past database 1's rows, so the tables never read as equal.
    const std::int64_t rows1 = counts_.onlyIn1 + counts_.changed + counts_.same;
    const std::int64_t rows2 = counts_.onlyIn2 + counts_.changed + counts_.same;
    if (fallbackReason_.empty() && expectedRows_ &&
        (rows1 < *expectedRows_ || rows2 < *expectedRows_)) {
        for (std::size_t f = 0; f < fields_.size(); ++f) {
            if (firstDifference_[f] == 0) {
                firstDifference_[f] = rows1 + 1;
            }
        }
    }
}

namespace {

// Whether the record after the last pair compared is missing on a side: one
// table ended while the other goes on, or both ended before the number of
// rows their databases count. Rows lost from a damaged file must never read
// as equal tables.
bool RecordMissing(bool more1, bool more2, std::int64_t recordsCompared,
                   const std::optional<std::int64_t>& expectedRows) {
    if (more1 != more2) {
        return true;
    }
    return !more1 && expectedRows && recordsCompared < *expectedRows;
}

}  // namespace

bool TableDataComparison::RunByPosition() {
    const std::size_t fieldCount = fields_.size();
    // Each database reads by its own names of the table, fields and key.
    auto opener = [](Database& db, const std::string& table, const std::vector<std::string>& fields,
                     const std::vector<std::string>& keyFields) -> RecordsetOpener {
        return [&db, &table, &fields, &keyFields] {
            return keyFields.empty() ? db.OpenRecordset(table, fields)
                                     : db.OpenOrderedRecordset(table, fields, keyFields);
        };
    };
    bool cancelled = false;
    YieldPoint yieldAndCheck(host_);
    Pipeline pipeline(opener(db1_, table_, fields_, pairing_.keyFields),
                      opener(db2_, Table2(), Fields2(), KeyFields2()),
                      ReadLabel{db1_.Name(), table_, fields_},
                      ReadLabel{db2_.Name(), Table2(), Fields2()}, fieldCount,
                      std::vector<bool>(fieldCount, true), [&] { return yieldAndCheck(); });
    Cursor& side1 = pipeline.Side1();
    Cursor& side2 = pipeline.Side2();
    auto& decided = pipeline.Decided();
    std::vector<bool> longField;
    std::size_t undecided = fieldCount;
    while (undecided > 0) {
        const bool more1 = side1.Next();
        const bool more2 = side2.Next();
        if (!more1 || !more2) {
            if (!side1.cancelled && !side2.cancelled &&
                RecordMissing(more1, more2, recordsCompared_, expectedRows_)) {
                for (std::size_t f = 0; f < fieldCount; ++f) {
                    if (!decided[f].load(std::memory_order_relaxed)) {
                        firstDifference_[f] = recordsCompared_ + 1;
                        decided[f] = true;
                    }
                }
            }
            break;
        }
        ++recordsCompared_;
        // Identical bytes: every field of the row is equal (unless long
        // values stand in it by their sizes). Otherwise look at the fields
        // one by one, decoding only those whose bytes differ.
        if (pipeline.AtParkedRows() || side1.Row(fieldCount) != side2.Row(fieldCount)) {
            if (longField.empty()) {
                for (const int type : pipeline.Types1()) {
                    longField.push_back(IsLongType(type));
                }
            }
            for (std::size_t f = 0; f < fieldCount; ++f) {
                if (decided[f].load(std::memory_order_relaxed)) {
                    continue;
                }
                if (!pipeline.FieldEqual(f, fieldCount, longField[f], byMeaning_)) {
                    firstDifference_[f] = recordsCompared_;
                    decided[f] = true;
                    --undecided;
                }
            }
        }
        ++side1.row;
        ++side2.row;
        if ((recordsCompared_ & 1023) == 0 && !yieldAndCheck()) {
            cancelled = true;
            break;
        }
    }
    cancelled = cancelled || side1.cancelled || side2.cancelled;
    pipeline.Stop();
    return !cancelled;
}

}  // namespace kesmark
