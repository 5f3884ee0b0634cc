#include <algorithm>

#include "engine/comparison_run.h"

namespace kesmark {

namespace {

constexpr std::size_t kChunkSize = 100;
// Records between two yields of the record loop, so that a cancel request is
// seen promptly even inside a long table.
constexpr std::int64_t kRecordsPerYield = 2048;

bool LongValuesEqual(RecordsetField& f1, RecordsetField& f2) {
    const std::int64_t size = f1.FieldSize();
    if (size != f2.FieldSize()) {
        return false;
    }
    for (std::int64_t offset = 0; offset < size; offset += kChunkSize) {
        if (f1.GetChunk(offset, kChunkSize) != f2.GetChunk(offset, kChunkSize)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ComparisonRun::CompareFieldData(const std::string& table, const std::string& field,
                                     bool& same) {
    if (YieldAndCheckCancel()) {
        return false;
    }
    try {
        SetStatus("Comparing data of field " + field + " of table " + table);
        const std::string fieldKey = "TableDefs[" + table + "].Fields[" + field + "]";
        auto rs1 = db1_->OpenRecordset(table, {field});
        auto rs2 = db2_->OpenRecordset(table, {field});
        auto& f1 = rs1->Field(0);
        auto& f2 = rs2->Field(0);
        const int type = f1.Type();
        const bool longValues = type == dao::kLongBinary || type == dao::kMemo;
        std::int64_t record = 1;
        while (!rs1->IsEof() && !rs2->IsEof()) {
            if (record % kRecordsPerYield == 0 && YieldAndCheckCancel()) {
                return false;
            }
            bool equal = true;
            if (longValues) {
                const Value v1 = f1.GetValue();
                const Value v2 = f2.GetValue();
                if (v1.IsNull() != v2.IsNull()) {
                    equal = false;
                } else if (!v1.IsNull()) {
                    equal = LongValuesEqual(f1, f2);
                }
            } else {
                equal = VariantEqual(f1.GetValue(), f2.GetValue());
            }
            if (!equal) {
                tree_.AddNode(fieldKey, fieldKey + ".Records[" + std::to_string(record) + "]",
                              "Record " + std::to_string(record), 2);
                same = false;
                break;
            }
            ++record;
            rs1->MoveNext();
            rs2->MoveNext();
        }
        rs1->Close();
        rs2->Close();
        return true;
    } catch (const std::exception& e) {
        ReportError(AsDbError(e));
        return false;
    }
}

}  // namespace kesmark
