#include "engine/compare/pairing.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "engine/compare/matching.h"
#include "engine/model/text.h"
#include "engine/model/vocabulary.h"

namespace kesmark {

namespace {

// The container whose documents are the relations.
constexpr std::string_view kRelationshipsContainer = "Relationships";

// The members of one side that no pair has taken yet, in name order.
using Leftovers = std::vector<std::string>;

// Pairs each leftover of side 1, in order, with the first leftover of side 2
// that `match` accepts; both leave their leftover lists.
template <class Match>
void PairLeftovers(Leftovers& only1, Leftovers& only2, std::vector<MemberPair>& pairs,
                   bool byDefinition, Match&& match) {
    for (auto it1 = only1.begin(); it1 != only1.end();) {
        const auto it2 = std::find_if(only2.begin(), only2.end(),
                                      [&](const std::string& name2) { return match(*it1, name2); });
        if (it2 == only2.end()) {
            ++it1;
            continue;
        }
        pairs.push_back({*it1, *it2, byDefinition});
        only2.erase(it2);
        it1 = only1.erase(it1);
    }
}

std::string NameForComparison(const std::string& name, const PairingRules& rules) {
    return rules.ignoreNameCase ? FoldAsciiCase(name) : name;
}

bool BooleanProperty(const Properties& properties, std::string_view name) {
    const Property* property = properties.Find(name);
    if (!property) {
        return false;
    }
    const Value value = property->GetValue();
    const auto* flag = value.As<bool>();
    return flag && *flag;
}

// What an index is, apart from its name.
struct IndexDefinition {
    bool primary = false;
    bool unique = false;
    std::optional<std::vector<std::string>> fields;  // in key order; nullopt when unreadable
};

std::optional<IndexDefinition> ReadIndex(Collection& indexes, const std::string& name,
                                         const PairingRules& rules) {
    try {
        auto index = indexes.Find(name);
        if (!index) {
            return std::nullopt;
        }
        const Properties properties = index->GetProperties();
        IndexDefinition definition;
        definition.primary = BooleanProperty(properties, "Primary");
        definition.unique = BooleanProperty(properties, "Unique");
        try {
            std::vector<std::string> fields;
            for (const auto& field : index->GetCollection(collections::kFields)->Names()) {
                fields.push_back(NameForComparison(field, rules));
            }
            definition.fields = std::move(fields);
        } catch (const DbError&) {
            // A primary key still pairs; a key unknown pairs with nothing.
        }
        return definition;
    } catch (const DbError&) {
        return std::nullopt;
    }
}

// What a relation is, apart from its name: the tables, and the column pairs
// in a fixed order (two constraints over the same pairs are one relation).
struct RelationDefinition {
    std::string table;
    std::string foreignTable;
    std::vector<std::pair<std::string, std::string>> fields;
    friend bool operator==(const RelationDefinition&, const RelationDefinition&) = default;
};

std::optional<RelationDefinition> ReadRelation(Collection& relations, const std::string& name,
                                               const PairingRules& rules) {
    try {
        auto relation = relations.Find(name);
        if (!relation) {
            return std::nullopt;
        }
        const Properties properties = relation->GetProperties();
        RelationDefinition definition;
        definition.table = NameForComparison(TextOfProperty(properties, "Table"), rules);
        definition.foreignTable =
            NameForComparison(TextOfProperty(properties, "ForeignTable"), rules);
        auto fields = relation->GetCollection(collections::kFields);
        const std::size_t count = fields->Count();
        for (std::size_t i = 0; i < count; ++i) {
            const Properties field = fields->ItemAt(i)->GetProperties();
            definition.fields.emplace_back(
                NameForComparison(TextOfProperty(field, "Name"), rules),
                NameForComparison(TextOfProperty(field, "ForeignName"), rules));
        }
        std::sort(definition.fields.begin(), definition.fields.end());
        return definition;
    } catch (const DbError&) {
        return std::nullopt;
    }
}

// The definitions of the leftovers of one side, by name.
template <class Definition, class Read>
std::map<std::string, std::optional<Definition>> Definitions(const Leftovers& names, Read&& read) {
    std::map<std::string, std::optional<Definition>> definitions;
    for (const auto& name : names) {
        definitions.emplace(name, read(name));
    }
    return definitions;
}

void PairIndexes(Collection& indexes1, Collection& indexes2, Leftovers& only1, Leftovers& only2,
                 std::vector<MemberPair>& pairs, const PairingRules& rules) {
    if (only1.empty() || only2.empty()) {
        return;
    }
    const auto definitions1 = Definitions<IndexDefinition>(
        only1, [&](const std::string& name) { return ReadIndex(indexes1, name, rules); });
    const auto definitions2 = Definitions<IndexDefinition>(
        only2, [&](const std::string& name) { return ReadIndex(indexes2, name, rules); });
    // The primary keys of the two tables, whatever they are called.
    PairLeftovers(only1, only2, pairs, true, [&](const std::string& a, const std::string& b) {
        const auto& d1 = definitions1.at(a);
        const auto& d2 = definitions2.at(b);
        return d1 && d2 && d1->primary && d2->primary;
    });
    // An index the engine named, with the index of the same key.
    PairLeftovers(only1, only2, pairs, true, [&](const std::string& a, const std::string& b) {
        const auto& d1 = definitions1.at(a);
        const auto& d2 = definitions2.at(b);
        return (vocabulary::IsGeneratedIndexName(a) || vocabulary::IsGeneratedIndexName(b)) && d1 &&
               d2 && d1->unique == d2->unique && d1->fields && d1->fields == d2->fields;
    });
}

void PairRelations(Collection& relations1, Collection& relations2, Leftovers& only1,
                   Leftovers& only2, std::vector<MemberPair>& pairs, const PairingRules& rules) {
    if (only1.empty() || only2.empty()) {
        return;
    }
    const auto definitions1 = Definitions<RelationDefinition>(
        only1, [&](const std::string& name) { return ReadRelation(relations1, name, rules); });
    const auto definitions2 = Definitions<RelationDefinition>(
        only2, [&](const std::string& name) { return ReadRelation(relations2, name, rules); });
    PairLeftovers(only1, only2, pairs, true, [&](const std::string& a, const std::string& b) {
        const auto& d1 = definitions1.at(a);
        const auto& d2 = definitions2.at(b);
        return d1 && d2 && *d1 == *d2;
    });
}

// The documents of the Relationships container stand for the relations and
// carry their names: they pair as their relations do.
void PairRelationDocuments(Database& db1, Database& db2, Leftovers& only1, Leftovers& only2,
                           std::vector<MemberPair>& pairs, const PairingRules& rules) {
    if (only1.empty() || only2.empty()) {
        return;
    }
    std::map<std::string, std::string> partners;
    try {
        for (const auto& pair : PairMembers(Level::Relations, db1, db1, db2, db2, rules)) {
            if (pair.byDefinition) {
                partners.emplace(pair.name1, pair.name2);
            }
        }
    } catch (const DbError&) {
        return;  // the relations cannot be read: the documents pair by name only
    }
    PairLeftovers(only1, only2, pairs, true, [&](const std::string& a, const std::string& b) {
        const auto it = partners.find(a);
        return it != partners.end() && it->second == b;
    });
}

std::vector<std::string> SortedNames(Collection& collection) {
    auto names = collection.Names();
    SortNames(names, 0, static_cast<std::ptrdiff_t>(names.size()) - 1);
    return names;
}

}  // namespace

std::vector<MemberPair> PairMembers(Level level, Database& db1, DbObject& owner1, Database& db2,
                                    DbObject& owner2, const PairingRules& rules) {
    const LevelInfo& info = Describe(level);
    auto collection1 = owner1.GetCollection(info.collection);
    auto collection2 = owner2.GetCollection(info.collection);
    const auto names1 = SortedNames(*collection1);
    const auto names2 = SortedNames(*collection2);

    std::vector<MemberPair> pairs;
    Leftovers only1;
    Leftovers only2;
    MergeNames(
        names1, names2, [&](const std::string& name) { only1.push_back(name); },
        [&](const std::string& name) { only2.push_back(name); },
        [&](const std::string& name1, const std::string& name2) {
            pairs.push_back({name1, name2, false});
        });
    if (rules.ignoreNameCase) {
        PairLeftovers(only1, only2, pairs, false, [](const std::string& a, const std::string& b) {
            return FoldAsciiCase(a) == FoldAsciiCase(b);
        });
    }
    if (level == Level::Indexes) {
        PairIndexes(*collection1, *collection2, only1, only2, pairs, rules);
    } else if (level == Level::Relations) {
        PairRelations(*collection1, *collection2, only1, only2, pairs, rules);
    } else if (level == Level::Documents && owner1.Name() == kRelationshipsContainer) {
        PairRelationDocuments(db1, db2, only1, only2, pairs, rules);
    }
    for (auto& name : only1) {
        pairs.push_back({std::move(name), {}, false});
    }
    for (auto& name : only2) {
        pairs.push_back({{}, std::move(name), false});
    }
    std::stable_sort(pairs.begin(), pairs.end(), [](const MemberPair& a, const MemberPair& b) {
        return CompareOrdinal(a.KeyName(), b.KeyName()) < 0;
    });
    return pairs;
}

}  // namespace kesmark
