#include <algorithm>

#include "engine/comparison_run.h"
#include "engine/table_data.h"

namespace kesmark {

void ComparisonRun::PrepareTableData(const std::string& table, std::vector<std::string> fields,
                                     std::optional<std::int64_t> expectedRows) {
    tableData_.reset();
    pendingDataTable_ = table;
    pendingDataFields_ = std::move(fields);
    pendingExpectedRows_ = expectedRows;
}

bool ComparisonRun::CompareFieldData(const std::string& table, const std::string& field,
                                     bool& same) {
    if (YieldAndCheckCancel()) {
        return false;
    }
    try {
        SetStatus("Comparing data of field " + field + " of table " + table);
        // The first field of a table reads the whole table once, for all the
        // fields the walk announced; the others take their result from it.
        const auto covers = [&](const TableDataComparison& data) {
            return data.Table() == table && std::find(data.Fields().begin(), data.Fields().end(),
                                                      field) != data.Fields().end();
        };
        if (!tableData_ || !covers(*tableData_)) {
            std::vector<std::string> fields = {field};
            const bool announced = pendingDataTable_ == table &&
                                   std::find(pendingDataFields_.begin(), pendingDataFields_.end(),
                                             field) != pendingDataFields_.end();
            if (announced) {
                fields = pendingDataFields_;
            }
            tableData_ = std::make_unique<TableDataComparison>(*db1_, *db2_, table,
                                                               std::move(fields), host_);
            if (announced && pendingExpectedRows_) {
                tableData_->ExpectRows(*pendingExpectedRows_);
            }
            const bool completed = tableData_->Run();
            recordsCompared_ += tableData_->RecordsCompared();
            if (!completed) {
                tableData_.reset();
                return false;
            }
        }
        const auto& fields = tableData_->Fields();
        const auto index = static_cast<std::size_t>(std::find(fields.begin(), fields.end(), field) -
                                                    fields.begin());
        if (const std::int64_t record = tableData_->FirstDifference(index); record > 0) {
            const std::string fieldKey = "TableDefs[" + table + "].Fields[" + field + "]";
            const std::string n = std::to_string(record);
            tree_.AddNode(fieldKey, fieldKey + ".Records[" + n + "]", "Record " + n, 2);
            same = false;
        }
        return true;
    } catch (const std::exception& e) {
        tableData_.reset();
        ReportError(AsDbError(e));
        return false;
    }
}

}  // namespace kesmark
