#include "engine/schema_walks.h"

#include <cfenv>
#include <cmath>

#include "engine/comparison_run.h"

namespace kesmark {

namespace {

const WalkPlan kWalks[] = {
    {WalkKind::Tables,
     "TableDefs",
     "TableDefs",
     1,
     2,
     false,
     {WalkKind::TableFields, WalkKind::Indexes}},
    {WalkKind::TableFields, "TableFields", "Fields", 3, 4, true, {}},
    {WalkKind::Indexes, "Indexes", "Indexes", 5, 6, false, {WalkKind::IndexFields}},
    {WalkKind::IndexFields, "IndexFields", "Fields", 3, 4, true, {}},
    {WalkKind::Queries,
     "QueryDefs",
     "QueryDefs",
     9,
     10,
     false,
     {WalkKind::QueryFields, WalkKind::Parameters}},
    {WalkKind::QueryFields, "QueryFields", "Fields", 3, 4, true, {}},
    {WalkKind::Parameters, "Parameters", "Parameters", 17, 18, true, {}},
    {WalkKind::Relations, "Relations", "Relations", 13, 14, true, {WalkKind::RelationFields}},
    {WalkKind::RelationFields, "RelationFields", "Fields", 3, 4, true, {}},
    {WalkKind::Containers, "Containers", "Containers", 15, 16, true, {WalkKind::Documents}},
    {WalkKind::Documents, "Documents", "Documents", 19, 20, true, {}},
};

const std::string& OwnerName(const ObjectPath& owner, std::size_t level) {
    static const std::string empty;
    return level < owner.size() ? owner[level].second : empty;
}

// The object at `path` in `db` (the database itself for an empty path).
std::unique_ptr<DbObject> Resolve(Database& db, const ObjectPath& path) {
    std::unique_ptr<DbObject> object;
    DbObject* current = &db;
    for (const auto& [collection, name] : path) {
        auto next = current->GetCollection(collection)->Item(name);
        object = std::move(next);
        current = object.get();
    }
    return object;
}

DbObject& ResolveInto(Database& db, const ObjectPath& path, std::unique_ptr<DbObject>& holder) {
    holder = Resolve(db, path);
    return holder ? *holder : static_cast<DbObject&>(db);
}

int RoundHalfToEven(double x) {
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(x);
    std::fesetround(previous);
    return static_cast<int>(r);
}

}  // namespace

std::string PathKey(const ObjectPath& path) {
    std::string key;
    for (const auto& [collection, name] : path) {
        if (!key.empty()) {
            key += '.';
        }
        key.append(collection).append("[").append(name).append("]");
    }
    return key;
}

const WalkPlan& GetWalkPlan(WalkKind kind) {
    return kWalks[static_cast<int>(kind)];
}

std::string WalkStatusText(WalkKind kind, const ObjectPath& owner) {
    switch (kind) {
        case WalkKind::Tables:
            return "Comparing tables";
        case WalkKind::TableFields:
            return "Comparing fields of table " + OwnerName(owner, 0);
        case WalkKind::Indexes:
            return "Comparing index of table " + OwnerName(owner, 0);
        case WalkKind::IndexFields:
            return "Comparing fields of index " + OwnerName(owner, 1) + " of table " +
                   OwnerName(owner, 0);
        case WalkKind::Queries:
            return "Comparing queries";
        case WalkKind::QueryFields:
            return "Comparing fields of query " + OwnerName(owner, 0);
        case WalkKind::Parameters:
            return "Comparing parameters of query " + OwnerName(owner, 0);
        case WalkKind::Relations:
            return "Comparing relations";
        case WalkKind::RelationFields:
            return "Comparing fields of relation " + OwnerName(owner, 0);
        case WalkKind::Containers:
            return "Comparing containters";
        case WalkKind::Documents:
            return "Comparing documents of container " + OwnerName(owner, 0);
    }
    return {};
}

// The one walk pattern: yield and cancel test, status text, particular rules
// before matching, matching, then per common object its own same flag, the
// properties and sub-walks in the order its plan gives, and the differs image when
// anything below it differed.
bool ComparisonRun::Walk(WalkKind kind, const ObjectPath& owner, bool& ownerSame) {
    if (YieldAndCheckCancel()) {
        return false;
    }
    const WalkPlan& plan = GetWalkPlan(kind);
    try {
        SetStatus(WalkStatusText(kind, owner));

        if (kind == WalkKind::Indexes) {
            // Some tables' indexes cannot be read: probe database 1 only, and
            // treat a failure as "no indexes to compare".
            try {
                std::unique_ptr<DbObject> holder;
                ResolveInto(*db1_, owner, holder).GetCollection(plan.collection)->Count();
            } catch (const std::exception&) {
                return true;
            }
        }

        bool compareData = false;
        std::optional<std::int64_t> expectedRows;
        if (kind == WalkKind::TableFields && inputs_.switches.data) {
            compareData = true;
            std::unique_ptr<DbObject> t1;
            std::unique_ptr<DbObject> t2;
            const Value count1 =
                ResolveInto(*db1_, owner, t1).GetProperties().Item("RecordCount").GetValue();
            const Value count2 =
                ResolveInto(*db2_, owner, t2).GetProperties().Item("RecordCount").GetValue();
            if (!VariantEqual(count1, count2)) {
                ownerSame = false;
                compareData = false;
            } else if (const auto* rows = count1.As<std::int64_t>()) {
                expectedRows = *rows;
            }
        }

        const std::string ownerKey = PathKey(owner);
        const std::string prefix = MemberKeyPrefix(ownerKey, plan.collection);
        const std::string parentKey = owner.empty() ? std::string("Databases") : ownerKey;
        std::vector<std::string> common;
        {
            std::unique_ptr<DbObject> o1;
            std::unique_ptr<DbObject> o2;
            auto c1 = ResolveInto(*db1_, owner, o1).GetCollection(plan.collection);
            auto c2 = ResolveInto(*db2_, owner, o2).GetCollection(plan.collection);
            if (!CompareCollections(prefix, "]", *c1, *c2, common, parentKey, plan.sameImage,
                                    plan.differsImage, ownerSame)) {
                return false;
            }
        }

        if (compareData) {
            PrepareTableData(OwnerName(owner, 0), common, expectedRows);
        }
        for (std::size_t k = 0; k < common.size(); ++k) {
            ObjectPath path = owner;
            path.emplace_back(plan.collection, common[k]);
            bool objectSame = true;

            auto compareOwnProperties = [&] {
                std::unique_ptr<DbObject> o1;
                std::unique_ptr<DbObject> o2;
                // Taken before the skip list is loaded: a relation's database 2
                // is replaced just before it is taken (see below).
                auto& object1 = ResolveInto(*db1_, path, o1);
                if (kind == WalkKind::Relations) {
                    ReopenDatabase2();
                }
                auto& object2 = ResolveInto(*db2_, path, o2);
                LoadSkipList(plan.tag);
                return CompareProperties(object1.GetProperties(), object2.GetProperties(),
                                         objectSame);
            };

            if (plan.propertiesFirst && !compareOwnProperties()) {
                return false;
            }
            for (WalkKind sub : plan.subWalks) {
                if (CompareFlag(settings_, GetWalkPlan(sub).tag) && !Walk(sub, path, objectSame)) {
                    return false;
                }
            }
            if (!plan.propertiesFirst && !compareOwnProperties()) {
                return false;
            }
            if (compareData && !CompareFieldData(OwnerName(owner, 0), common[k], objectSame)) {
                return false;
            }
            const std::string key = PathKey(path);
            if (!objectSame) {
                ownerSame = false;
                tree_.SetNodeImage(key, plan.differsImage);
            }
            unfinished_.erase(key);
            if (kind == WalkKind::Tables) {
                SetProgress(RoundHalfToEven(10.0 + 80.0 * static_cast<double>(k + 1) /
                                                       static_cast<double>(common.size())));
            }
        }
        return true;
    } catch (const std::exception& e) {
        ReportError(AsDbError(e));
        return false;
    }
}

bool ComparisonRun::CompareTables(bool& same) {
    return Walk(WalkKind::Tables, {}, same);
}

bool ComparisonRun::CompareQueries(bool& same) {
    return Walk(WalkKind::Queries, {}, same);
}

bool ComparisonRun::CompareRelations(bool& same) {
    return Walk(WalkKind::Relations, {}, same);
}

bool ComparisonRun::CompareContainers(bool& same) {
    return Walk(WalkKind::Containers, {}, same);
}

bool ComparisonRun::CompareTableFields(const std::string& table, bool& same) {
    return Walk(WalkKind::TableFields, {{"TableDefs", table}}, same);
}

bool ComparisonRun::CompareIndexes(const std::string& table, bool& same) {
    return Walk(WalkKind::Indexes, {{"TableDefs", table}}, same);
}

bool ComparisonRun::CompareIndexFields(const std::string& table, const std::string& index,
                                       bool& same) {
    return Walk(WalkKind::IndexFields, {{"TableDefs", table}, {"Indexes", index}}, same);
}

bool ComparisonRun::CompareQueryFields(const std::string& query, bool& same) {
    return Walk(WalkKind::QueryFields, {{"QueryDefs", query}}, same);
}

bool ComparisonRun::CompareParameters(const std::string& query, bool& same) {
    return Walk(WalkKind::Parameters, {{"QueryDefs", query}}, same);
}

bool ComparisonRun::CompareRelationFields(const std::string& relation, bool& same) {
    return Walk(WalkKind::RelationFields, {{"Relations", relation}}, same);
}

bool ComparisonRun::CompareDocuments(const std::string& container, bool& same) {
    return Walk(WalkKind::Documents, {{"Containers", container}}, same);
}

}  // namespace kesmark
