#include "engine/compare/comparison_run.h"

#include "engine/compare/differences.h"
#include "engine/compare/matching.h"
#include "engine/compare/table_data.h"

namespace kesmark {

DbError AsDbError(const std::exception& e) {
    if (const auto* db = dynamic_cast<const DbError*>(&e)) {
        return *db;
    }
    return DbError(-1, e.what(), "Kesmark");
}

std::string OpenFailureMessage(const std::string& databaseName, const DbError& error) {
    return "Unable to open database '" + databaseName + "'\r\n" +
           "Description: " + error.Description() + "\r\n" +
           "Number: " + std::to_string(error.Number()) + "\r\n" + "Source: " + error.Source();
}

std::optional<std::string> OpenBothDatabases(const DatabaseOpener& opener, const RunInputs& inputs,
                                             Host& host, std::unique_ptr<Database>& db1,
                                             std::unique_ptr<Database>& db2) {
    auto open = [&](const std::string& name, const std::string& connect,
                    std::unique_ptr<Database>& db) -> std::optional<std::string> {
        try {
            db = opener(name, connect);
            return std::nullopt;
        } catch (const std::exception& e) {
            std::string message = OpenFailureMessage(name, AsDbError(e));
            host.ShowMessage(message, "Kesmark", MessageIcon::Critical);
            return message;
        }
    };
    if (auto failure = open(inputs.database1, inputs.connect1, db1)) {
        return failure;
    }
    if (auto failure = open(inputs.database2, inputs.connect2, db2)) {
        db1->Close();
        db1.reset();
        return failure;
    }
    return std::nullopt;
}

ComparisonRun::~ComparisonRun() = default;

ComparisonRun::ComparisonRun(RunInputs inputs, const ComparisonOptions& options, ResultTree& tree,
                             Host& host, DatabaseOpener opener)
    : inputs_(std::move(inputs)),
      options_(options),
      tree_(tree),
      host_(host),
      opener_(std::move(opener)) {}

void ComparisonRun::SetStatus(std::string_view text) {
    host_.SetStatusText(text);
}

void ComparisonRun::SetProgress(int position) {
    host_.SetProgressPosition(position);
}

bool ComparisonRun::YieldAndCheckCancel() {
    host_.ProcessPendingEvents();
    return host_.CancelRequested();
}

void ComparisonRun::ReportError(const DbError& error) {
    if (failure_.empty()) {
        failure_ = error.Description();
    }
    if (!error.Description().empty()) {
        host_.ShowMessage(error.Description(), error.Source(), MessageIcon::Critical);
    }
}

void ComparisonRun::LoadSkipList(Level level) {
    ComparisonSwitches switches = inputs_.switches;
    switches.sameKind = sameKind_;
    skipList_ = options_.LoadSkipList(SettingsTag(level), switches);
}

bool ComparisonRun::OpenBothDatabases() {
    const auto failure = kesmark::OpenBothDatabases(opener_, inputs_, host_, db1_, db2_);
    if (failure) {
        failure_ = failure->substr(0, failure->find('\r'));
    }
    return !failure;
}

void ComparisonRun::ReopenDatabase2() {
    // A backend that can share its connection reads the same state of the
    // database (and need not copy it again); otherwise open it anew.
    std::unique_ptr<Database> again = db2_ ? db2_->OpenAgain() : nullptr;
    if (db2_) {
        db2_->Close();
        db2_.reset();
    }
    db2_ = again ? std::move(again) : opener_(inputs_.database2, inputs_.connect2);
}

bool ComparisonRun::BuildFilter() {
    FilterPatterns patterns = options_.Filters();
    patterns.include.insert(patterns.include.end(), inputs_.filters.include.begin(),
                            inputs_.filters.include.end());
    patterns.exclude.insert(patterns.exclude.end(), inputs_.filters.exclude.begin(),
                            inputs_.filters.exclude.end());
    std::string error;
    auto filter = NodeFilter::Make(patterns, error);
    if (!filter) {
        host_.ShowMessage("Filter " + error, "Kesmark", MessageIcon::Critical);
        return false;
    }
    filter_ = std::move(*filter);
    return true;
}

RunOutcome ComparisonRun::RunComparison() {
    host_.SetBusyPointer(true);
    SetProgress(0);
    SetStatus("Opening databases");

    auto stopped = [&] { return Stopped(); };

    if (!BuildFilter() || !OpenBothDatabases()) {
        return stopped();
    }
    databasesOpen_ = true;
    same_ = true;
    sameKind_ = db1_->Kind() == db2_->Kind();
    rules_ = EqualityRules{};
    rules_.byMeaning = !sameKind_;
    rules_.ignoreNameCase = options_.IgnoreNameCase();
    std::vector<PropertyDifference> rootDifferences;
    if (!CompareDatabaseProperties(same_, rootDifferences)) {
        return stopped();
    }
    try {
        const LevelInfo& root = Describe(Level::Databases);
        tree_.AddNode("", kRootKey, kRootKey, same_ ? root.same : root.differs);
        rootAdded_ = true;
        if (!rootDifferences.empty()) {
            tree_.AddDifferences(kRootKey, std::move(rootDifferences));
        }
    } catch (const std::exception& e) {
        ReportError(AsDbError(e));
        return stopped();
    }

    // The phases, in their fixed order: the walks of the top-level collections.
    for (const Level phase : ChildLevels(Level::Databases)) {
        if (YieldAndCheckCancel()) {
            return stopped();
        }
        if (phase == Level::TableDefs) {
            SetProgress(10);
        } else if (phase == Level::QueryDefs) {
            SetProgress(90);
        }
        if (options_.CompareFlag(Describe(phase).tag) &&
            !Walk(phase, NodeKey(), NodeKey(), *db1_, *db2_, same_)) {
            return stopped();
        }
    }
    if (YieldAndCheckCancel()) {
        return stopped();
    }
    if (!same_) {
        try {
            tree_.SetNodeImage(kRootKey, Describe(Level::Databases).differs);
        } catch (const std::exception& e) {
            ReportError(AsDbError(e));
            return stopped();
        }
    }
    SetProgress(100);
    try {
        db1_->Close();
        db2_->Close();
    } catch (const std::exception&) {
        // Closing a read-only connection has nothing to lose; the run is done.
    }
    db1_.reset();
    db2_.reset();
    host_.SetBusyPointer(false);
    SetStatus("Done");
    return RunOutcome::Done;
}

RunOutcome ComparisonRun::Stopped() {
    if (databasesOpen_) {
        // Whatever the same flag says so far, the databases were not compared
        // to the end.
        try {
            if (rootAdded_) {
                tree_.SetNodeImage(kRootKey, Picture::DatabasesIncomplete);
            } else {
                tree_.AddNode("", kRootKey, kRootKey, Picture::DatabasesIncomplete);
                rootAdded_ = true;
            }
        } catch (const std::exception&) {
            // The tree refused the root: the failure that stopped the run has
            // been shown already.
        }
    }
    // Release without an explicit close; the destructors end the use.
    db1_.reset();
    db2_.reset();
    host_.SetBusyPointer(false);
    SetStatus("");
    return RunOutcome::Stopped;
}

void ComparisonRun::MarkUnfinished(Level level, const NodeKey& owner,
                                   const std::vector<MemberPair>& common, std::size_t current,
                                   bool currentSame, bool& ownerSame) {
    const LevelInfo& info = Describe(level);
    for (std::size_t k = current; k < common.size(); ++k) {
        const bool differs = k == current && !currentSame;
        if (differs) {
            ownerSame = false;
        }
        try {
            tree_.SetNodeImage(owner.Child(info.collection, common[k].name1).Text(),
                               differs ? info.differs : Picture::NotCompared);
        } catch (const std::exception&) {
            // A node the tree never took: nothing to mark.
        }
    }
}

bool ComparisonRun::CompareDatabaseProperties(bool& same,
                                              std::vector<PropertyDifference>& differences) {
    if (YieldAndCheckCancel()) {
        return false;
    }
    try {
        SetStatus(Describe(Level::Databases).status);
        LoadSkipList(Level::Databases);
        return CompareProperties(db1_->GetProperties(), db2_->GetProperties(), rules_, same,
                                 differences);
    } catch (const std::exception& e) {
        ReportError(AsDbError(e));
        return false;
    }
}

bool ComparisonRun::CompareCollections(Level level, const NodeKey& owner, DbObject& owner1,
                                       DbObject& owner2, std::vector<MemberPair>& common,
                                       bool& same) {
    if (YieldAndCheckCancel()) {
        return false;
    }
    try {
        const LevelInfo& info = Describe(level);
        const std::string parentKey = owner.Text();
        common.clear();
        PairingRules pairing;
        pairing.ignoreNameCase = rules_.ignoreNameCase;
        for (auto& pair : PairMembers(level, *db1_, owner1, *db2_, owner2, pairing)) {
            const std::string& name = pair.KeyName();
            const bool both = pair.InBoth();
            const NodeKey nodeKey = owner.Child(info.collection, name);
            const std::string key = nodeKey.Text();
            // A member the filters leave out is only counted: no node, and
            // nothing of it is read further.
            if (!filter_.Admits(nodeKey)) {
                tree_.CountFilteredOut(key);
                continue;
            }
            tree_.AddNode(parentKey, key, name, both ? info.same : info.differs);
            if (both) {
                common.push_back(std::move(pair));
            } else {
                same = false;
                tree_.SetNodePresence(key, pair.name1.empty() ? Presence::Only2 : Presence::Only1);
            }
        }
        return true;
    } catch (const std::exception& e) {
        ReportError(AsDbError(e));
        return false;
    }
}

bool ComparisonRun::CompareProperties(const Properties& properties1, const Properties& properties2,
                                      const EqualityRules& rules, bool& same,
                                      std::vector<PropertyDifference>& differences) {
    if (YieldAndCheckCancel()) {
        return false;
    }
    // The value of a property found on one side only, or why it cannot be read.
    auto oneSided = [](const Properties& properties, const std::string& name, bool first) {
        try {
            const Property& property = properties.Item(std::string_view(name));
            const Value value = property.GetValue();
            return DescribeDifference(name, property.Type(), first ? &value : nullptr,
                                      first ? nullptr : &value);
        } catch (const std::exception& e) {
            PropertyDifference difference{name, std::nullopt, std::nullopt, "", false};
            (first ? difference.value1 : difference.value2) =
                "Error: " + AsDbError(e).Description();
            return difference;
        }
    };
    try {
        auto names1 = PropertyNames(properties1);
        auto names2 = PropertyNames(properties2);
        SortNames(names1, 0, static_cast<std::ptrdiff_t>(names1.size()) - 1);
        SortNames(names2, 0, static_cast<std::ptrdiff_t>(names2.size()) - 1);
        // Every property is examined, past the first difference too, so that
        // each differing one is recorded.
        std::size_t i = 0;
        std::size_t j = 0;
        while (i < names1.size() || j < names2.size()) {
            if (i < names1.size() && IsSkipped(skipList_, names1[i])) {
                ++i;
                continue;
            }
            if (j < names2.size() && IsSkipped(skipList_, names2[j])) {
                ++j;
                continue;
            }
            const int order = CompareItemNames(names1, names2, i, j);
            if (order == 1) {
                same = false;
                differences.push_back(oneSided(properties1, names1[i++], true));
                continue;
            }
            if (order == -1) {
                same = false;
                differences.push_back(oneSided(properties2, names2[j++], false));
                continue;
            }
            bool equal = true;
            try {
                const Property& property1 = properties1.Item(std::string_view(names1[i]));
                const Property& property2 = properties2.Item(std::string_view(names2[j]));
                const int type = property1.Type();
                const Value value1 = property1.GetValue();
                const Value value2 = property2.GetValue();
                PropertyValuesEqual(Property(property1.Name(), type, value1),
                                    Property(property2.Name(), property2.Type(), value2), equal,
                                    rules);
                if (!equal) {
                    differences.push_back(DescribeDifference(names2[j], type, &value1, &value2));
                }
            } catch (const std::exception& e) {
                // An unreadable value counts as a difference.
                equal = false;
                differences.push_back(UnreadableDifference(names2[j], AsDbError(e).Description()));
            }
            if (!equal) {
                same = false;
            }
            ++i;
            ++j;
        }
        return true;
    } catch (const std::exception& e) {
        ReportError(AsDbError(e));
        return false;
    }
}

}  // namespace kesmark
