#include "engine/compare/table_data.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/compare/matching.h"
#include "engine/model/value_codec.h"

namespace kesmark {

namespace {

// Time between two yields to the user interface inside the record loop.
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
    RowBatch Pop() {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return !queue_.empty(); });
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

// Reads one recordset into the queue until its end, an error or a stop.
// Fields whose first difference is already known are sent as Null. A long
// value (a field of `longField`) longer than kLongValuePiece is not read:
// its size goes, the batch ends with its row, and the recordset stays on
// that row until the consumer has compared it.
void Produce(Recordset& recordset, BatchQueue& queue, const std::atomic<bool>& stop,
             const std::vector<std::atomic<bool>>& decided, const std::vector<bool>& longField) {
    const std::size_t fieldCount = decided.size();
    std::vector<RecordsetField*> fields;
    for (std::size_t f = 0; f < fieldCount; ++f) {
        fields.push_back(&recordset.Field(f));
    }
    try {
        while (!stop) {
            RowBatch batch;
            batch.cellStart.reserve(TableDataComparison::kBatchRows * fieldCount + 1);
            batch.bytes.reserve(TableDataComparison::kBatchBytes / 2);
            while (batch.rows < TableDataComparison::kBatchRows &&
                   batch.bytes.size() < TableDataComparison::kBatchBytes) {
                if (recordset.IsEof()) {
                    batch.last = true;
                    break;
                }
                for (std::size_t f = 0; f < fieldCount; ++f) {
                    if (decided[f].load(std::memory_order_relaxed)) {
                        batch.bytes.push_back(value_tags::kNull);
                    } else if (const std::int64_t size = longField[f] ? fields[f]->FieldSize() : 0;
                               size > static_cast<std::int64_t>(kLongValuePiece)) {
                        AppendLongValueMarker(size, batch.bytes);
                        batch.parked = true;
                    } else {
                        fields[f]->AppendEncodedValue(batch.bytes);
                    }
                    batch.cellStart.push_back(static_cast<std::uint32_t>(batch.bytes.size()));
                }
                ++batch.rows;
                if (batch.parked) {
                    break;
                }
                recordset.MoveNext();
            }
            const bool last = batch.last;
            const bool parked = batch.parked;
            if (!queue.Push(std::move(batch), stop) || last) {
                return;
            }
            if (parked) {
                if (!queue.WaitForRelease(stop)) {
                    return;
                }
                recordset.MoveNext();
            }
        }
    } catch (const DbError& e) {
        RowBatch failed;
        failed.last = true;
        failed.error = e;
        queue.Push(std::move(failed), stop);
    } catch (const std::exception& e) {
        RowBatch failed;
        failed.last = true;
        failed.error = DbError(-1, e.what(), "Kesmark");
        queue.Push(std::move(failed), stop);
    }
}

// The consumer's view of one side: the current batch and the row in it.
struct Cursor {
    BatchQueue& queue;
    RowBatch batch;
    std::size_t row = 0;
    bool ended = false;

    // Moves to the next row; false at the end of the table. Leaving the row
    // of a parked batch lets its producer go on. Throws the producer's error.
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
            batch = queue.Pop();
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

TableDataComparison::TableDataComparison(Database& db1, Database& db2, std::string table,
                                         std::vector<std::string> fields, Host& host)
    : db1_(db1),
      db2_(db2),
      table_(std::move(table)),
      fields_(std::move(fields)),
      host_(host),
      firstDifference_(fields_.size(), 0) {}

bool TableDataComparison::Run() {
    const std::size_t fieldCount = fields_.size();
    if (fieldCount == 0) {
        return true;
    }
    auto rs1 = db1_.OpenRecordset(table_, fields_);
    auto rs2 = db2_.OpenRecordset(table_, fields_);
    // Long by the type in database 1, which decides how values compare; a
    // side whose own type is long also reads its long values in pieces.
    std::vector<bool> longField(fieldCount);
    std::vector<bool> longField2(fieldCount);
    auto isLong = [](int type) { return type == dao::kLongBinary || type == dao::kMemo; };
    for (std::size_t f = 0; f < fieldCount; ++f) {
        longField[f] = isLong(rs1->Field(f).Type());
        longField2[f] = longField[f] || isLong(rs2->Field(f).Type());
    }

    std::atomic<bool> stop{false};
    std::vector<std::atomic<bool>> decided(fieldCount);
    BatchQueue queue1;
    BatchQueue queue2;
    std::thread reader1([&] { Produce(*rs1, queue1, stop, decided, longField2); });
    std::thread reader2([&] { Produce(*rs2, queue2, stop, decided, longField2); });
    auto stopReaders = [&] {
        stop = true;
        queue1.WakeProducer();
        queue2.WakeProducer();
        // Let a producer blocked on a full queue see the stop flag, and
        // drain what was queued so that neither waits forever.
        reader1.join();
        reader2.join();
    };

    Cursor side1{queue1, {}, 0, false};
    Cursor side2{queue2, {}, 0, false};
    std::size_t undecided = fieldCount;
    bool cancelled = false;
    auto lastYield = std::chrono::steady_clock::now();
    try {
        while (undecided > 0) {
            if (!side1.Next() || !side2.Next()) {
                break;
            }
            ++recordsCompared_;
            // Identical bytes: every field of the row is equal (unless long
            // values stand in it by their sizes). Otherwise look at the
            // fields one by one, decoding only those whose bytes differ (5
            // and 5.0 are still equal numbers).
            const bool parked = side1.AtParkedRow() || side2.AtParkedRow();
            if (parked || side1.Row(fieldCount) != side2.Row(fieldCount)) {
                for (std::size_t f = 0; f < fieldCount; ++f) {
                    if (decided[f].load(std::memory_order_relaxed)) {
                        continue;
                    }
                    const std::string_view cell1 = side1.Cell(f, fieldCount);
                    const std::string_view cell2 = side2.Cell(f, fieldCount);
                    const bool long1 = IsLongValueMarker(cell1);
                    const bool long2 = IsLongValueMarker(cell2);
                    if (cell1 == cell2 && !long1) {
                        continue;
                    }
                    bool equal = false;
                    if (long1 || long2) {
                        // Both recordsets wait on this record.
                        equal = long1 && long2 && LongFieldsEqual(rs1->Field(f), rs2->Field(f));
                    } else {
                        const Value v1 = DecodeValue(cell1);
                        const Value v2 = DecodeValue(cell2);
                        if (v1.IsNull() || v2.IsNull()) {
                            equal = v1.IsNull() && v2.IsNull();
                        } else {
                            equal = longField[f] ? LongValuesEqual(v1, v2) : VariantEqual(v1, v2);
                        }
                    }
                    if (!equal) {
                        firstDifference_[f] = recordsCompared_;
                        decided[f] = true;
                        --undecided;
                    }
                }
            }
            ++side1.row;
            ++side2.row;
            if ((recordsCompared_ & 1023) == 0) {
                if (host_.CancelRequested()) {
                    cancelled = true;
                    break;
                }
                const auto now = std::chrono::steady_clock::now();
                if (now - lastYield >= kYieldInterval) {
                    host_.ProcessPendingEvents();
                    lastYield = now;
                    if (host_.CancelRequested()) {
                        cancelled = true;
                        break;
                    }
                }
            }
        }
    } catch (...) {
        stopReaders();
        throw;
    }
    stopReaders();
    rs1->Close();
    rs2->Close();
    return !cancelled;
}

}  // namespace kesmark
