#include "view/result_view.h"

#include <charconv>
#include <optional>
#include <utility>
#include <vector>

#include "engine/compare/differences.h"
#include "engine/compare/matching.h"

namespace kesmark {

namespace {

constexpr std::string_view kProgramTitle = "Kesmark";
constexpr std::string_view kNotFound = "not found";
constexpr std::string_view kSkipped = "skipped";
constexpr std::string_view kErrorPrefix = "Error: ";
constexpr std::string_view kNullText = "Null";

}  // namespace

namespace {

// The text of a value in a row: Null reads "Null" (it has no plain text).
std::string PlainValueText(const Value& value) {
    return value.IsNull() ? std::string(kNullText) : PlainText(value);
}

// The record number of a key's "Records[n]": a decimal whole number from 1.
std::int32_t RecordNumber(const std::string& text) {
    std::int32_t number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || stop != end || number < 1) {
        throw DbError(errors::kTypeMismatch,
                      "Invalid record number '" + text + "': records are numbered from 1.",
                      std::string(kProgramTitle));
    }
    return number;
}

std::vector<std::string> SortedNames(const Properties& properties) {
    auto names = PropertyNames(properties);
    SortNames(names, 0, static_cast<std::ptrdiff_t>(names.size()) - 1);
    return names;
}

}  // namespace

std::string PropertyValueText(const Property& property) {
    return DisplayText(property.Type(), property.GetValue());
}

ResultView::ResultView(RunInputs inputs, const ComparisonOptions& options, Host& host,
                       PropertyList& list, DatabaseOpener opener)
    : inputs_(std::move(inputs)),
      options_(options),
      host_(host),
      list_(list),
      opener_(std::move(opener)) {}

void ResultView::LoadSkipList(Level level) {
    skipList_ = options_.LoadSkipList(Describe(level).tag, inputs_.switches);
}

void ResultView::ReportFailure(const DbError& error) {
    if (!error.Description().empty()) {
        host_.ShowMessage(error.Description(), error.Source(), MessageIcon::Critical);
    }
}

void ResultView::ShowUnknownCollection(std::string_view name) {
    host_.ShowMessage("Unkown collection '" + std::string(name) + "'", kProgramTitle,
                      MessageIcon::None);
}

void ResultView::AddRow(std::string_view name, std::string_view text1, std::string_view text2,
                        bool differs) {
    list_.AddPropertyRow(name, text1, text2,
                         differs ? property_rows::kDifferentIcon : property_rows::kEqualIcon,
                         differs ? property_rows::kRed : property_rows::kBlack);
}

void ResultView::AddSkippedRow(std::string_view name) {
    list_.AddPropertyRow(name, kSkipped, kSkipped, property_rows::kSkippedIcon,
                         property_rows::kBlack);
}

bool ResultView::OpenBothDatabases(std::unique_ptr<Database>& db1, std::unique_ptr<Database>& db2) {
    auto open = [&](const std::string& name, const std::string& connect,
                    std::unique_ptr<Database>& db) {
        try {
            db = opener_(name, connect);
            return true;
        } catch (const std::exception& e) {
            host_.ShowMessage(OpenFailureMessage(name, AsDbError(e)), kProgramTitle,
                              MessageIcon::Critical);
            return false;
        }
    };
    if (!open(inputs_.database1, inputs_.connect1, db1)) {
        return false;
    }
    if (!open(inputs_.database2, inputs_.connect2, db2)) {
        db1.reset();
        return false;
    }
    return true;
}

bool ResultView::ShowNodeProperties(const std::string& key) {
    host_.SetBusyPointer(true);
    const bool listed = ShowResolved(key);
    host_.SetBusyPointer(false);
    return listed;
}

bool ResultView::ShowResolved(const std::string& key) {
    std::unique_ptr<Database> db1;
    std::unique_ptr<Database> db2;
    if (!OpenBothDatabases(db1, db2)) {
        return false;
    }
    if (!ListNodeProperties(*db1, *db2, key)) {
        return false;
    }
    try {
        db1->Close();
        db2->Close();
    } catch (const std::exception&) {
        // Closing a read-only connection has nothing to lose; the listing is done.
    }
    return true;
}

bool ResultView::ListNodeProperties(Database& db1, Database& db2, const std::string& key) {
    try {
        if (key == kRootKey) {
            LoadSkipList(Level::Databases);
            return ListBothSides(db1.GetProperties(), db2.GetProperties());
        }
        NodeKeyReader reader(key);
        const std::string top = reader.ReadCollection();
        if (const auto level = ChildLevel(Level::Databases, top)) {
            return ResolveLevel(*level, db1, db2, db1, db2, reader);
        }
        ShowUnknownCollection(top);
        return false;
    } catch (const std::exception& e) {
        ReportFailure(AsDbError(e));
        return false;
    }
}

bool ResultView::ResolveLevel(Level level, Database& db1, Database& db2, DbObject& parent1,
                              DbObject& parent2, NodeKeyReader& reader) {
    const LevelInfo& info = Describe(level);
    const std::string name = reader.ReadName();

    // A lookup that fails leaves its object absent; the first failure is kept
    // to tell why when the object is absent from both databases.
    std::optional<DbError> failure;
    auto remember = [&](const std::exception& e) {
        if (!failure) {
            failure = AsDbError(e);
        }
    };
    auto lookUp = [&](DbObject& parent) -> std::unique_ptr<DbObject> {
        try {
            return parent.GetCollection(info.collection)->Item(name);
        } catch (const std::exception& e) {
            remember(e);
            return nullptr;
        }
    };
    std::unique_ptr<DbObject> object1 = lookUp(parent1);
    std::unique_ptr<DbObject> object2 = lookUp(parent2);
    if (info.lookup == Lookup::Relation) {
        // Database 2's relation of exactly that name, if its keyed lookup
        // found another one.
        try {
            auto relations = parent2.GetCollection(info.collection);
            const std::size_t count = relations->Count();
            for (std::size_t k = 0; k < count; ++k) {
                if (relations->NameAt(k) == name) {
                    object2 = relations->ItemAt(k);
                    break;
                }
            }
        } catch (const std::exception& e) {
            remember(e);
        }
    }

    if (failure) {
        // The object exists on one side at most; the rest of the key is not read.
        LoadSkipList(level);
        if (object1) {
            return ListOneSide(Side::Database1, object1->GetProperties());
        }
        if (object2) {
            return ListOneSide(Side::Database2, object2->GetProperties());
        }
        throw *failure;
    }

    if (reader.AtEnd()) {
        LoadSkipList(level);
        return ListBothSides(object1->GetProperties(), object2->GetProperties());
    }
    reader.SkipSeparator();  // the separator, whatever character it is
    const std::vector<Level> children = ChildLevels(level);
    if (children.empty()) {
        ShowUnknownCollection(reader.Rest());
        return false;
    }
    const std::string subCollection = reader.ReadCollection();
    const auto subLevel = ChildLevel(level, subCollection);
    if (!subLevel) {
        ShowUnknownCollection(subCollection);
        return false;
    }
    if (Describe(*subLevel).lookup == Lookup::RecordNumber) {
        return ViewRecords(db1, db2, parent1, parent2, *object1, *object2, reader);
    }
    return ResolveLevel(*subLevel, db1, db2, *object1, *object2, reader);
}

bool ResultView::ViewRecords(Database& db1, Database& db2, DbObject& table1, DbObject& table2,
                             DbObject& field1, DbObject& field2, NodeKeyReader& reader) {
    // Text after the record number's "]" is ignored.
    const std::int32_t record = RecordNumber(reader.ReadPlain());
    // The statement and row order of the data comparison, so that row n is
    // the record the comparison numbered n.
    auto recordset1 = db1.OpenRecordset(table1.Name(), {field1.Name()});
    auto recordset2 = db2.OpenRecordset(table2.Name(), {field2.Name()});
    RecordsetField& column1 = recordset1->Field(0);
    RecordsetField& column2 = recordset2->Field(0);
    recordset1->Move(record - 1);
    recordset2->Move(record - 1);
    LoadSkipList(Level::Records);
    if (!ListBothSides(column1.GetProperties(), column2.GetProperties())) {
        return false;
    }
    recordset1->Close();
    recordset2->Close();
    return true;
}

bool ResultView::ListBothSides(const Properties& properties1, const Properties& properties2) {
    // One row for a name on one side: its plain text, or "Error: " and why it
    // could not be read.
    auto addOneSided = [&](Side side, const std::string& name, const Properties& properties) {
        if (IsSkipped(skipList_, name)) {
            AddSkippedRow(name);
            return;
        }
        std::string text;
        try {
            text = PlainValueText(properties.Item(name).GetValue());
        } catch (const std::exception& e) {
            text = std::string(kErrorPrefix) + AsDbError(e).Description();
        }
        if (side == Side::Database1) {
            AddRow(name, text, kNotFound, true);
        } else {
            AddRow(name, kNotFound, text, true);
        }
    };
    // One row for a name on both sides. Each value is read once; a value that
    // cannot be read gives the same "Error: " text in both cells.
    auto addPair = [&](const std::string& name1, const std::string& name2) {
        if (IsSkipped(skipList_, name1)) {
            AddSkippedRow(name1);
            return;
        }
        bool equal = true;
        std::string text1;
        std::string text2;
        try {
            const Property& property1 = properties1.Item(name1);
            const Property& property2 = properties2.Item(name2);
            const Property read1(property1.Name(), property1.Type(), property1.GetValue());
            const Property read2(property2.Name(), property2.Type(), property2.GetValue());
            PropertyValuesEqual(read1, read2, equal);
            text1 = PropertyValueText(read1);
            text2 = PropertyValueText(read2);
        } catch (const std::exception& e) {
            const std::string error = std::string(kErrorPrefix) + AsDbError(e).Description();
            AddRow(name2, error, error, true);
            return;
        }
        AddRow(name2, text1, text2, !equal);
    };

    try {
        const auto names1 = SortedNames(properties1);
        const auto names2 = SortedNames(properties2);
        MergeNames(
            names1, names2,
            [&](const std::string& name) { addOneSided(Side::Database1, name, properties1); },
            [&](const std::string& name) { addOneSided(Side::Database2, name, properties2); },
            [&](const std::string& name1, const std::string& name2) { addPair(name1, name2); });
        return true;
    } catch (const std::exception& e) {
        ReportFailure(AsDbError(e));
        return false;
    }
}

bool ResultView::ListOneSide(Side side, const Properties& properties) {
    try {
        for (const auto& name : SortedNames(properties)) {
            if (IsSkipped(skipList_, name)) {
                AddSkippedRow(name);
                continue;
            }
            const std::string text = PlainValueText(properties.Item(name).GetValue());
            if (side == Side::Database1) {
                AddRow(name, text, kNotFound, true);
            } else {
                AddRow(name, kNotFound, text, true);
            }
        }
        return true;
    } catch (const std::exception& e) {
        ReportFailure(AsDbError(e));
        return false;
    }
}

}  // namespace kesmark
