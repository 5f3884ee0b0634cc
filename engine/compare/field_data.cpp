#include <algorithm>
#include <unordered_set>

#include "engine/compare/comparison_run.h"
#include "engine/compare/table_data.h"

namespace kesmark {

namespace {

Picture RowPicture(RowState state) {
    switch (state) {
        case RowState::OnlyIn1:
            return Picture::RowOnlyIn1;
        case RowState::OnlyIn2:
            return Picture::RowOnlyIn2;
        case RowState::Changed:
            return Picture::RowChanged;
    }
    return Describe(Level::Rows).differs;
}

}  // namespace

void ComparisonRun::AddRowNodes(const TableDataComparison& data, const NodeKey& table,
                                bool& tableSame) {
    const RowCounts& counts = data.Counts();
    if (counts.onlyIn1 + counts.onlyIn2 + counts.changed > 0) {
        tableSame = false;
    }
    const std::string tableKey = table.Text();
    tree_.SetRowCounts(tableKey, counts);
    // Two keys of one text (integer 5 and text "5" in a SQLite column that
    // holds both) would name one node: the second is left out, its row
    // still counted.
    std::unordered_set<std::string> added;
    for (const RowDifference& row : data.RowDifferences()) {
        const std::string name = RowKeyText(row.key);
        if (!added.insert(name).second) {
            continue;
        }
        tree_.AddNode(tableKey, table.Child(Describe(Level::Rows).collection, name).Text(),
                      "Row " + name, RowPicture(row.state));
    }
}

bool ComparisonRun::CompareFieldData(TableDataComparison& data, bool& dataRan, const NodeKey& field,
                                     bool& same, bool& tableSame) {
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
            if (!data.FallbackReason().empty()) {
                host_.ShowMessage(data.FallbackReason(), "Kesmark", MessageIcon::Exclamation);
            }
            if (data.MatchedByKey()) {
                AddRowNodes(data, field.Parent(), tableSame);
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
