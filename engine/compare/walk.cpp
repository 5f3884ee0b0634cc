#include <cfenv>
#include <cmath>
#include <future>
#include <optional>
#include <tuple>

#include "engine/compare/comparison_run.h"
#include "engine/compare/table_data.h"

namespace kesmark {

namespace {

// The object a key names in `db` (the database itself for the root key).
// `holder` keeps the looked-up objects alive.
DbObject& Resolve(Database& db, const NodeKey& key, std::unique_ptr<DbObject>& holder) {
    DbObject* current = &db;
    for (const auto& segment : key.Segments()) {
        auto next = current->GetCollection(segment.collection)->Item(segment.name);
        holder = std::move(next);
        current = holder.get();
    }
    return *current;
}

// Runs `read` on one database; an error it throws names that database and
// `what` was being read, unless the backend's message names the database.
template <typename Read>
auto OnSide(Database& db, const std::string& what, Read read) -> decltype(read()) {
    try {
        return read();
    } catch (const DbError& e) {
        throw NamingDatabase(e, db.Name(), what);
    }
}

// "the Fields of TableDefs[Orders]", "the TableDefs".
std::string CollectionText(std::string_view collection, const NodeKey& owner) {
    const std::string of = owner.IsRoot() ? "" : " of " + owner.Text();
    return "the " + std::string(collection) + of;
}

int RoundHalfToEven(double x) {
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(x);
    std::fesetround(previous);
    return static_cast<int>(r);
}

}  // namespace

// The one walk pattern: yield and cancel test, status text, the level's rules
// before matching, matching, then per common object its own same flag, the
// properties and sub-walks in the order the level's rules give, and the
// differs picture when anything below it differed. A walk that stops marks
// the common objects it did not finish.
//
// The walk holds the two objects it is comparing, and each common member
// only while it compares that member: a table's fields and indexes are read
// when its walk reads them and let go with the table.
bool ComparisonRun::Walk(Level level, const NodeKey& owner, const NodeKey& owner2,
                         DbObject& object1, DbObject& object2, bool& ownerSame) {
    if (YieldAndCheckCancel()) {
        return false;
    }
    const LevelInfo& info = Describe(level);
    std::vector<MemberPair> common;
    std::size_t current = 0;  // the common object being compared
    bool objectSame = true;   // its same flag
    auto stop = [&] {
        MarkUnfinished(level, owner, common, current, objectSame, ownerSame);
        return false;
    };
    try {
        SetStatus(StatusText(level, owner.OwnerNamesInnermostFirst()));

        if (info.rules & kProbeDatabase1) {
            try {
                object1.GetCollection(info.collection)->Count();
            } catch (const std::exception&) {
                return true;
            }
        }

        // With data comparison on, the record counts are compared first. Rows
        // paired by position are compared only when the counts are equal;
        // rows paired by key always are, as the rows that are on one side
        // only are what the comparison looks for.
        bool compareData = false;
        std::optional<std::int64_t> expectedRows;
        std::optional<std::int64_t> rows1;
        RecordPairing pairing;
        if ((info.rules & kComparesData) && inputs_.switches.data) {
            compareData = true;
            pairing = PlanPairing(*db1_, *db2_, owner.Name(), options_.Data(), owner2.Name(),
                                  rules_.ignoreNameCase);
            const auto recordCount = [&](Database& db, DbObject& table, const NodeKey& key) {
                return OnSide(db, "counting the rows of " + key.Text(),
                              [&] { return table.GetProperties().Item("RecordCount").GetValue(); });
            };
            // A server counts by reading the table: both count at once.
            Value count1;
            Value count2;
            if (IsOnAServer(*db1_) && IsOnAServer(*db2_)) {
                auto counting2 = std::async(std::launch::async,
                                            [&] { return recordCount(*db2_, object2, owner2); });
                try {
                    count1 = recordCount(*db1_, object1, owner);
                } catch (...) {
                    counting2.wait();
                    throw;
                }
                count2 = counting2.get();
            } else {
                count1 = recordCount(*db1_, object1, owner);
                count2 = recordCount(*db2_, object2, owner2);
            }
            if (const auto* rows = count1.As<std::int64_t>()) {
                rows1 = *rows;
            }
            if (!VariantEqual(count1, count2)) {
                ownerSame = false;
                compareData = pairing.byKey;
            } else if (const auto* rows = count1.As<std::int64_t>()) {
                expectedRows = *rows;
            }
        }

        // Each collection is read on its own side, so that a failure names
        // the database it came from.
        auto readCollection = [&](DbObject& object) {
            auto collection = object.GetCollection(info.collection);
            collection->Count();
            return collection;
        };
        auto collection1 = OnSide(*db1_, "reading " + CollectionText(info.collection, owner),
                                  [&] { return readCollection(object1); });
        auto collection2 = OnSide(*db2_, "reading " + CollectionText(info.collection, owner2),
                                  [&] { return readCollection(object2); });
        if (!CompareCollections(level, owner, object1, object2, common, ownerSame)) {
            return stop();
        }

        // The table's one data pass, over every common field, run when the
        // first field asks for it and gone when the walk ends. Database 2 is
        // read by its own names of the table and fields.
        std::optional<TableDataComparison> data;
        bool dataRan = false;
        if (compareData) {
            std::vector<std::string> fields1;
            std::vector<std::string> fields2;
            for (const auto& pair : common) {
                fields1.push_back(pair.name1);
                fields2.push_back(pair.name2);
            }
            data.emplace(*db1_, *db2_, owner.Name(), std::move(fields1), host_, pairing);
            data->ReadDatabase2As(owner2.Name(), std::move(fields2));
            data->CompareByMeaning(rules_.byMeaning);
            if (expectedRows) {
                data->ExpectRows(*expectedRows);
            }
            if (rows1) {
                data->KnowRows1(*rows1);
            }
        }

        const std::vector<Level> subLevels = ChildLevels(level);
        for (current = 0; current < common.size(); ++current) {
            const NodeKey key = owner.Child(info.collection, common[current].name1);
            const NodeKey key2 = owner2.Child(info.collection, common[current].name2);
            EqualityRules rules = rules_;
            rules.pairedByDefinition = common[current].byDefinition;
            objectSame = true;

            // Taken before the skip list is loaded, and before database 2 is
            // opened afresh where the level says so.
            auto member1 = collection1->Item(common[current].name1);
            if (info.rules & kReopenDatabase2) {
                // The collection of the old database 2 goes with it; the
                // member is looked up in the new one.
                collection2.reset();
                ReopenDatabase2();
                std::unique_ptr<DbObject> holder;
                collection2 = Resolve(*db2_, owner2, holder).GetCollection(info.collection);
            }
            auto member2 = collection2->Item(common[current].name2);

            auto compareOwnProperties = [&] {
                LoadSkipList(level);
                const Properties properties1 =
                    OnSide(*db1_, "reading the properties of " + key.Text(),
                           [&] { return member1->GetProperties(); });
                const Properties properties2 =
                    OnSide(*db2_, "reading the properties of " + key2.Text(),
                           [&] { return member2->GetProperties(); });
                std::vector<PropertyDifference> differences;
                if (!CompareProperties(properties1, properties2, rules, objectSame, differences)) {
                    return false;
                }
                if (!differences.empty()) {
                    tree_.AddDifferences(key.Text(), std::move(differences));
                }
                return true;
            };

            const bool propertiesFirst = info.rules & kPropertiesFirst;
            if (propertiesFirst && !compareOwnProperties()) {
                return stop();
            }
            for (Level sub : subLevels) {
                const LevelInfo& subInfo = Describe(sub);
                if (subInfo.hasCompareFlag && options_.CompareFlag(subInfo.tag) &&
                    !Walk(sub, key, key2, *member1, *member2, objectSame)) {
                    return stop();
                }
            }
            if (!propertiesFirst && !compareOwnProperties()) {
                return stop();
            }
            if (data && !CompareFieldData(*data, dataRan, key, objectSame, ownerSame)) {
                return stop();
            }
            if (!objectSame) {
                ownerSame = false;
                tree_.SetNodeImage(key.Text(), info.differs);
            }
            if (info.rules & kReportsProgress) {
                SetProgress(RoundHalfToEven(10.0 + 80.0 * static_cast<double>(current + 1) /
                                                       static_cast<double>(common.size())));
            }
        }
        return true;
    } catch (const std::exception& e) {
        ReportError(AsDbError(e));
        return stop();
    }
}

}  // namespace kesmark
