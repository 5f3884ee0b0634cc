#include "view/result_view.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <utility>
#include <vector>

#include "engine/compare/differences.h"
#include "engine/compare/matching.h"
#include "engine/compare/table_data.h"
#include "engine/model/key_order.h"

namespace kesmark {

namespace {

constexpr std::string_view kProgramTitle = "Kesmark";
constexpr std::string_view kNotFound = "not found";
constexpr std::string_view kSkipped = "skipped";
constexpr std::string_view kErrorPrefix = "Error: ";
constexpr std::string_view kNullText = "Null";

// The rows a table's listing gains from the data comparison.
constexpr std::string_view kMatchingRow = "Matching";
constexpr std::string_view kKeyRow = "Key";
constexpr std::string_view kChecksumsRow = "Checksums";
constexpr std::string_view kOnlyIn1Row = "Rows only in database 1";
constexpr std::string_view kOnlyIn2Row = "Rows only in database 2";
constexpr std::string_view kChangedRow = "Rows changed";
constexpr std::string_view kSameRow = "Rows same";

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

// The view's host as the data comparison of a listing sees it: the listing
// does not yield to the user interface (a click would start another listing
// inside this one), but a cancel request still stops it.
class ListingHost : public Host {
  public:
    explicit ListingHost(Host& host) : host_(host) {}
    void SetStatusText(std::string_view) override {}
    void SetProgressPosition(int) override {}
    void ProcessPendingEvents() override {}
    bool CancelRequested() const override { return host_.CancelRequested(); }
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
        host_.ShowMessage(text, caption, icon);
    }
    void SetBusyPointer(bool) override {}

  private:
    Host& host_;  // Not owned.
};

// "ID, Name": the key's fields for a listing.
std::string FieldList(const std::vector<std::string>& fields) {
    std::string text;
    for (const auto& f : fields) {
        text += (text.empty() ? "" : ", ") + f;
    }
    return text;
}

// The DAO type of a field of a table (Text when it does not say).
int FieldType(DbObject& field) {
    // Kept while `type` points into it.
    const Properties properties = field.GetProperties();
    const Property* type = properties.Find("Type");
    if (!type) {
        return dao::kText;
    }
    const Value v = type->GetValue();
    const auto* code = v.As<std::int64_t>();
    return code ? static_cast<int>(*code) : dao::kText;
}

std::vector<std::string> SortedNames(const Properties& properties) {
    auto names = PropertyNames(properties);
    SortNames(names, 0, static_cast<std::ptrdiff_t>(names.size()) - 1);
    return names;
}

}  // namespace

std::string PropertyValueText(const Property& property) {
    const Value value = property.GetValue();
    if (property.LongValue() && value.IsText()) {
        // The first piece of a long text: whole characters, then " ...".
        std::string text = *value.As<std::string>();
        std::size_t end = text.size();
        std::size_t start = end;
        while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
            --start;
        }
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(text[start - 1]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (end - (start - 1) < length) {
                end = start - 1;  // a character cut short
            }
        }
        text.resize(end);
        return text + " ...";
    }
    return DisplayText(property.Type(), value);
}

ResultView::ResultView(RunInputs inputs, const ComparisonOptions& options, Host& host,
                       PropertyList& list, DatabaseOpener opener)
    : inputs_(std::move(inputs)),
      options_(options),
      host_(host),
      list_(list),
      opener_(std::move(opener)) {}

void ResultView::LoadSkipList(Level level) {
    ComparisonSwitches switches = inputs_.switches;
    switches.sameKind = sameKind_;
    skipList_ = options_.LoadSkipList(SettingsTag(level), switches);
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
                        bool differs, std::optional<Value> value1, std::optional<Value> value2) {
    list_.AddPropertyRow(
        PropertyRow{std::string(name), std::string(text1), std::string(text2),
                    differs ? property_rows::kDifferentIcon : property_rows::kEqualIcon,
                    differs ? property_rows::kRed : property_rows::kBlack, std::move(value1),
                    std::move(value2)});
}

void ResultView::AddSkippedRow(std::string_view name) {
    list_.AddPropertyRow(PropertyRow{std::string(name), std::string(kSkipped),
                                     std::string(kSkipped), property_rows::kSkippedIcon,
                                     property_rows::kBlack, std::nullopt, std::nullopt});
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
    if (kesmark::OpenBothDatabases(opener_, inputs_, host_, db1, db2)) {
        return false;
    }
    const bool listed = ListNodeProperties(*db1, *db2, key);
    Forget();
    if (!listed) {
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

void ResultView::Forget() {
    // Members before their owners: deeper levels first.
    while (!kept_.empty()) {
        kept_.pop_back();
    }
    keptDb1_ = nullptr;
    keptDb2_ = nullptr;
}

bool ResultView::ListNodeProperties(Database& db1, Database& db2, const std::string& key) {
    try {
        sameKind_ = db1.Kind() == db2.Kind();
        rules_ = EqualityRules{};
        rules_.byMeaning = !sameKind_;
        rules_.ignoreNameCase = options_.IgnoreNameCase();
        if (&db1 != keptDb1_ || &db2 != keptDb2_ || rules_.ignoreNameCase != keptIgnoreNameCase_) {
            Forget();
            keptDb1_ = &db1;
            keptDb2_ = &db2;
            keptIgnoreNameCase_ = rules_.ignoreNameCase;
        }
        key_ = key;
        if (key == kRootKey) {
            LoadSkipList(Level::Databases);
            return ListBothSides(db1.GetProperties(), db2.GetProperties());
        }
        NodeKeyReader reader(key);
        const std::string top = reader.ReadCollection();
        if (const auto level = ChildLevel(Level::Databases, top)) {
            return ResolveLevel(*level, 0, db1, db2, db1, db2, reader);
        }
        ShowUnknownCollection(top);
        return false;
    } catch (const std::exception& e) {
        ReportFailure(AsDbError(e));
        return false;
    }
}

bool ResultView::ResolveLevel(Level level, std::size_t depth, Database& db1, Database& db2,
                              DbObject& parent1, DbObject& parent2, NodeKeyReader& reader) {
    const LevelInfo& info = Describe(level);
    const std::string owner = key_.substr(0, key_.size() - reader.Rest().size());
    const std::string name = reader.ReadName();

    // What the last key kept of this level serves when it has the same
    // owners; otherwise it goes, with everything below it.
    if (kept_.size() <= depth || kept_[depth].owner != owner) {
        while (kept_.size() > depth) {
            kept_.pop_back();
        }
        KeptLevel fresh;
        fresh.owner = owner;
        try {
            PairingRules pairing;
            pairing.ignoreNameCase = rules_.ignoreNameCase;
            fresh.pairs = PairMembers(level, db1, parent1, db2, parent2, pairing);
        } catch (const std::exception&) {
            // A collection that cannot be read: each side is looked up alone.
        }
        kept_.push_back(std::move(fresh));
    }
    if (kept_[depth].object1 && kept_[depth].name == name) {
        rules_.pairedByDefinition = kept_[depth].pairedByDefinition;
        return ListResolved(level, depth, db1, db2, parent1, parent2, *kept_[depth].object1,
                            *kept_[depth].object2, reader);
    }
    while (kept_.size() > depth + 1) {
        kept_.pop_back();
    }
    kept_[depth].name.clear();
    kept_[depth].object1.reset();
    kept_[depth].object2.reset();

    // The member the key names and its partner, paired as the run pairs
    // them. A lookup that fails leaves its object absent; the first failure
    // is kept to tell why when the object is absent from both databases.
    std::optional<DbError> failure;
    auto remember = [&](const std::exception& e) {
        if (!failure) {
            failure = AsDbError(e);
        }
    };
    auto lookUp = [&](DbObject& parent, const std::string& member) -> std::unique_ptr<DbObject> {
        try {
            return parent.GetCollection(info.collection)->Item(member);
        } catch (const std::exception& e) {
            remember(e);
            return nullptr;
        }
    };
    std::unique_ptr<DbObject> object1;
    std::unique_ptr<DbObject> object2;
    rules_.pairedByDefinition = false;
    std::optional<MemberPair> pair;
    if (kept_[depth].pairs) {
        for (const auto& candidate : *kept_[depth].pairs) {
            if (candidate.KeyName() == name) {
                pair = candidate;
                break;
            }
        }
    }
    if (pair) {
        object1 = pair->name1.empty() ? nullptr : lookUp(parent1, pair->name1);
        object2 = pair->name2.empty() ? nullptr : lookUp(parent2, pair->name2);
        rules_.pairedByDefinition = pair->byDefinition;
        if (!pair->InBoth() && !failure) {
            failure = DbError(errors::kItemNotFound, "Item not found in this collection.",
                              std::string(kProgramTitle));
        }
    } else {
        // A name no node of the run has (typed by hand): each database's own
        // lookup, which also finds a name in another letter case.
        object1 = lookUp(parent1, name);
        object2 = lookUp(parent2, name);
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

    KeptLevel& kept = kept_[depth];
    kept.name = name;
    kept.object1 = std::move(object1);
    kept.object2 = std::move(object2);
    kept.pairedByDefinition = rules_.pairedByDefinition;
    return ListResolved(level, depth, db1, db2, parent1, parent2, *kept.object1, *kept.object2,
                        reader);
}

bool ResultView::ListResolved(Level level, std::size_t depth, Database& db1, Database& db2,
                              DbObject& parent1, DbObject& parent2, DbObject& object1,
                              DbObject& object2, NodeKeyReader& reader) {
    if (reader.AtEnd()) {
        LoadSkipList(level);
        if (!ListBothSides(object1.GetProperties(), object2.GetProperties())) {
            return false;
        }
        // A table also tells how its records are paired and, by key, how
        // many rows differ.
        if (ChildLevel(level, Describe(Level::Rows).collection)) {
            return ListRowSummary(db1, db2, object1, object2);
        }
        return true;
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
        return ViewRecords(db1, db2, parent1, parent2, object1, object2, reader);
    }
    if (Describe(*subLevel).lookup == Lookup::RowKey) {
        return ViewRow(db1, db2, object1, object2, reader);
    }
    return ResolveLevel(*subLevel, depth + 1, db1, db2, object1, object2, reader);
}

bool ResultView::ViewRecords(Database& db1, Database& db2, DbObject& table1, DbObject& table2,
                             DbObject& field1, DbObject& field2, NodeKeyReader& reader) {
    // Text after the record number's "]" is ignored.
    const std::int32_t record = RecordNumber(reader.ReadPlain());
    // The row order and pairing of the data comparison, so that record n is
    // the pair the comparison numbered n: in key order where the tables share
    // a key, and by key the row of database 2 with the key of database 1's
    // n-th row.
    const RecordPairing pairing = PlanPairing(db1, db2, table1.Name(), options_.Data());
    const std::vector<std::string>& keyFields = pairing.keyFields;
    auto open = [&](Database& db, DbObject& table, const std::vector<std::string>& fields) {
        return keyFields.empty() ? db.OpenRecordset(table.Name(), fields)
                                 : db.OpenOrderedRecordset(table.Name(), fields, keyFields);
    };
    // A failure names the database it came from and the table.
    const auto named = [](Database& db, DbObject& table, auto read) {
        try {
            return read();
        } catch (const DbError& e) {
            throw NamingDatabase(e, db.Name(), "reading table '" + table.Name() + "'");
        }
    };
    std::vector<std::string> read1{field1.Name()};
    if (pairing.byKey) {
        for (const auto& k : keyFields) {
            if (k != read1.front()) {
                read1.push_back(k);
            }
        }
    }
    auto recordset1 = named(db1, table1, [&] {
        auto recordset = open(db1, table1, read1);
        recordset->Move(record - 1);
        return recordset;
    });
    std::unique_ptr<Recordset> recordset2;
    if (pairing.byKey && !recordset1->IsEof()) {
        std::vector<Value> key;
        named(db1, table1, [&] {
            for (const auto& k : keyFields) {
                const auto at = static_cast<std::size_t>(std::find(read1.begin(), read1.end(), k) -
                                                         read1.begin());
                key.push_back(recordset1->Field(at).GetValue());
            }
            return 0;
        });
        recordset2 = named(db2, table2, [&] {
            return db2.OpenKeyedRecordset(table2.Name(), {field2.Name()}, keyFields, key);
        });
    } else {
        recordset2 = named(db2, table2, [&] {
            auto recordset = open(db2, table2, {field2.Name()});
            recordset->Move(record - 1);
            return recordset;
        });
    }
    RecordsetField& column1 = recordset1->Field(0);
    LoadSkipList(Level::Records);
    // A table that ends before row n (a shorter table, rows lost from a
    // damaged file), or a key found in database 1 only, lacks the record: it
    // is listed from the other side (database 2's n-th row in key order when
    // database 1 has fewer rows).
    const bool in1 = !recordset1->IsEof();
    const bool in2 = !recordset2->IsEof();
    if (!in1 && !in2) {
        throw DbError(errors::kNoCurrentRecord,
                      "Record " + std::to_string(record) + " of table '" + table1.Name() +
                          "' exists in neither database.",
                      std::string(kProgramTitle));
    }
    const bool listed =
        in1 && in2 ? ListBothSides(column1.GetProperties(), recordset2->Field(0).GetProperties())
        : in1      ? ListOneSide(Side::Database1, column1.GetProperties())
                   : ListOneSide(Side::Database2, recordset2->Field(0).GetProperties());
    if (!listed) {
        return false;
    }
    recordset1->Close();
    recordset2->Close();
    return true;
}

bool ResultView::ListRowSummary(Database& db1, Database& db2, DbObject& table1, DbObject& table2) {
    try {
        const std::string table = table1.Name();
        const RecordPairing pairing = PlanPairing(db1, db2, table, options_.Data());
        const std::string keyText = "(" + FieldList(pairing.keyFields) + ")";
        if (pairing.keyFields.empty()) {
            AddRow(kMatchingRow, "Matched by position (no common key)",
                   "Matched by position (no common key)", false);
            return true;
        }
        if (!pairing.byKey) {
            const std::string text = "Matched by position, in the order of the key " + keyText;
            AddRow(kMatchingRow, text, text, false);
            return true;
        }
        const std::string byKey = "Matched by key " + keyText;
        const std::array<std::string_view, 4> countRows{kOnlyIn1Row, kOnlyIn2Row, kChangedRow,
                                                        kSameRow};
        if (!inputs_.switches.data) {
            // Counting the rows reads both tables: only with data comparison.
            AddRow(kMatchingRow, byKey, byKey, false);
            for (const auto name : countRows) {
                AddSkippedRow(name);
            }
            return true;
        }
        // The fields of both tables, as the data comparison compares them.
        std::vector<std::string> names1 = table1.GetCollection(collections::kFields)->Names();
        std::vector<std::string> names2 = table2.GetCollection(collections::kFields)->Names();
        SortNames(names1, 0, static_cast<std::ptrdiff_t>(names1.size()) - 1);
        SortNames(names2, 0, static_cast<std::ptrdiff_t>(names2.size()) - 1);
        std::vector<std::string> common;
        MergeNames(
            names1, names2, [](const std::string&) {}, [](const std::string&) {},
            [&](const std::string& name, const std::string&) { common.push_back(name); });
        RecordPairing counting = pairing;
        counting.maxRows = 0;
        ListingHost listingHost(host_);
        TableDataComparison data(db1, db2, table, common, listingHost, counting);
        if (!data.Run()) {
            return false;
        }
        if (!data.MatchedByKey()) {
            host_.ShowMessage(data.FallbackReason(), kProgramTitle, MessageIcon::Exclamation);
            const std::string text = "Matched by position (the keys are not in key order)";
            AddRow(kMatchingRow, text, text, false);
            return true;
        }
        // How the rows were matched: by checksums of key ranges, reading
        // only ranges that differ, or by reading every row.
        const std::string how =
            data.MatchedByChecksums() ? "Matched by key (checksums)" : "Matched by key (rows read)";
        AddRow(kMatchingRow, how, how, false);
        const std::string key = FieldList(pairing.keyFields);
        AddRow(kKeyRow, key, key, false);
        if (!data.ChecksumFallbackReason().empty()) {
            AddRow(kChecksumsRow, data.ChecksumFallbackReason(), data.ChecksumFallbackReason(),
                   false);
        }
        const RowCounts& counts = data.Counts();
        const std::array<std::int64_t, 4> values{counts.onlyIn1, counts.onlyIn2, counts.changed,
                                                 counts.same};
        // A row only in one database is counted in that database's column.
        for (std::size_t i = 0; i < countRows.size(); ++i) {
            const std::string count = std::to_string(values[i]);
            AddRow(countRows[i], countRows[i] == kOnlyIn2Row ? "" : count,
                   countRows[i] == kOnlyIn1Row ? "" : count,
                   countRows[i] != kSameRow && values[i] > 0);
        }
        return true;
    } catch (const std::exception& e) {
        ReportFailure(AsDbError(e));
        return false;
    }
}

bool ResultView::ViewRow(Database& db1, Database& db2, DbObject& table1, DbObject& table2,
                         NodeKeyReader& reader) {
    // Text after the row key's "]" is ignored.
    const std::string name = reader.ReadName();
    const std::string table = table1.Name();
    std::vector<std::string> texts;
    if (!SplitRowKey(name, texts)) {
        throw DbError(errors::kTypeMismatch,
                      "Invalid row key '" + name +
                          "': values are joined by \", \" and a \",\" inside a value is doubled.",
                      std::string(kProgramTitle));
    }
    const auto key = SharedKey(db1, db2, table);
    if (!key) {
        throw DbError(errors::kItemNotFound,
                      "Table '" + table +
                          "' has no key that both databases share: its records are matched by "
                          "position, not by key.",
                      std::string(kProgramTitle));
    }
    if (texts.size() != key->fields.size()) {
        throw DbError(errors::kTypeMismatch,
                      "The row key '" + name + "' has " + std::to_string(texts.size()) +
                          " values; the key of table '" + table + "' (" + FieldList(key->fields) +
                          ") has " + std::to_string(key->fields.size()) + ".",
                      std::string(kProgramTitle));
    }
    // One side's row: every field of its table, with the field's type, or
    // null when the table has no row of that key. A long value is a Long
    // property over the open recordset, read in pieces while it is listed.
    auto readRow = [&](Database& db, DbObject& tableDef,
                       Properties& row) -> std::unique_ptr<Recordset> {
        auto fields = tableDef.GetCollection(collections::kFields);
        const std::vector<std::string> names = fields->Names();
        std::vector<int> types;
        for (const auto& f : names) {
            types.push_back(FieldType(*fields->Item(f)));
        }
        std::vector<Value> values;
        for (std::size_t k = 0; k < texts.size(); ++k) {
            values.push_back(KeyValueFromText(texts[k], FieldType(*fields->Item(key->fields[k]))));
        }
        auto recordset = db.OpenKeyedRecordset(tableDef.Name(), names, key->fields, values);
        if (recordset->IsEof()) {
            return nullptr;
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            RecordsetField& field = recordset->Field(i);
            const bool longType = types[i] == dao::kLongBinary || types[i] == dao::kMemo;
            const std::int64_t size = longType ? field.FieldSize() : 0;
            if (size > static_cast<std::int64_t>(kLongValuePiece)) {
                row.Add(Property::Long(names[i], types[i], field.Beginning(kLongValuePiece),
                                       {size, [&field](std::int64_t offset, std::size_t count) {
                                            return field.GetChunk(offset, count);
                                        }}));
            } else {
                row.Add(names[i], types[i], field.GetValue());
            }
        }
        return recordset;
    };
    Properties row1;
    Properties row2;
    const auto recordset1 = readRow(db1, table1, row1);
    const auto recordset2 = readRow(db2, table2, row2);
    LoadSkipList(Level::Rows);
    if (recordset1 && recordset2) {
        return ListBothSides(row1, row2);
    }
    if (recordset1 || recordset2) {
        return ListOneSide(recordset1 ? Side::Database1 : Side::Database2,
                           recordset1 ? row1 : row2);
    }
    throw DbError(errors::kItemNotFound,
                  "Row " + name + " of table '" + table + "' is in neither database.",
                  std::string(kProgramTitle));
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
        std::optional<Value> value;
        try {
            value = properties.Item(name).GetValue();
            text = PlainValueText(*value);
        } catch (const std::exception& e) {
            value.reset();
            text = std::string(kErrorPrefix) + AsDbError(e).Description();
        }
        if (side == Side::Database1) {
            AddRow(name, text, kNotFound, true, std::move(value));
        } else {
            AddRow(name, kNotFound, text, true, std::nullopt, std::move(value));
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
        Value value1;
        Value value2;
        try {
            const Property& property1 = properties1.Item(name1);
            const Property& property2 = properties2.Item(name2);
            const Property read1 = property1.Read();
            const Property read2 = property2.Read();
            PropertyValuesEqual(read1, read2, equal, rules_);
            text1 = PropertyValueText(read1);
            text2 = PropertyValueText(read2);
            value1 = read1.GetValue();
            value2 = read2.GetValue();
        } catch (const std::exception& e) {
            const std::string error = std::string(kErrorPrefix) + AsDbError(e).Description();
            AddRow(name2, error, error, true);
            return;
        }
        AddRow(name2, text1, text2, !equal, std::move(value1), std::move(value2));
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
            Value value = properties.Item(name).GetValue();
            std::string text = PlainValueText(value);
            if (side == Side::Database1) {
                AddRow(name, text, kNotFound, true, std::move(value));
            } else {
                AddRow(name, kNotFound, text, true, std::nullopt, std::move(value));
            }
        }
        return true;
    } catch (const std::exception& e) {
        ReportFailure(AsDbError(e));
        return false;
    }
}

}  // namespace kesmark
