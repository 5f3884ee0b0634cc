#include <algorithm>

#include "engine/compare/comparison_run.h"
#include "engine/compare/table_data.h"

namespace kesmark {

bool ComparisonRun::CompareFieldData(TableDataComparison& data, bool& dataRan, const NodeKey& field,
                                     bool& same) {
    if (YieldAndCheckCancel()) {
        return false;
    }
    try {
        SetStatus("Comparing data of field " + field.Name() + " of table " + data.Table());
        // The first field of a table reads the whole table once, for all the
        // fields of the walk; the others take their result from that pass.
        if (!dataRan) {
            dataRan = true;
            const bool completed = data.Run();
            recordsCompared_ += data.RecordsCompared();
            if (!completed) {
                return false;
            }
        }
        const auto& fields = data.Fields();
        const auto index = static_cast<std::size_t>(
            std::find(fields.begin(), fields.end(), field.Name()) - fields.begin());
        if (const std::int64_t record = data.FirstDifference(index); record > 0) {
            const NodeKey recordKey =
                field.Child(Describe(Level::Records).collection, std::to_string(record));
            tree_.AddNode(field.Text(), recordKey.Text(), "Record " + std::to_string(record),
                          Describe(Level::Records).differs);
            same = false;
        }
        return true;
    } catch (const std::exception& e) {
        ReportError(AsDbError(e));
        return false;
    }
}

}  // namespace kesmark
