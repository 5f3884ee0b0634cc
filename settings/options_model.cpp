#include "settings/options_model.h"

#include <algorithm>
#include <cctype>

#include "engine/compare/filter.h"

namespace kesmark {

SkipTicks ReadSkipTicks(const IniFile& settings) {
    SkipTicks ticks{};
    for (std::size_t i = 0; i < kCompareTree.size(); ++i) {
        ticks[i] = !CompareFlag(settings, kCompareTree[i].tag);
    }
    return ticks;
}

OptionRows ReadOptionRows(const IniFile& settings, std::string_view section) {
    OptionRows rows;
    for (auto& name : ReadStoredList(settings, section)) {
        const bool listed = std::any_of(rows.begin(), rows.end(),
                                        [&](const OptionRow& row) { return row.name == name; });
        if (!name.empty() && !listed) {
            rows.push_back(OptionRow{std::move(name), true});
        }
    }
    return rows;
}

AddOutcome AddOptionRow(OptionRows& rows, std::string_view name) {
    if (name.empty()) {
        return {AddResult::Ignored};
    }
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return {AddResult::Refused};
    }
    const auto found = std::find_if(rows.begin(), rows.end(),
                                    [&](const OptionRow& row) { return row.name == name; });
    if (found != rows.end()) {
        return {AddResult::Existing, static_cast<std::size_t>(found - rows.begin())};
    }
    rows.push_back(OptionRow{std::string(name), true});
    return {AddResult::Added, rows.size() - 1};
}

std::vector<std::string> TickedNames(const OptionRows& rows) {
    std::vector<std::string> names;
    for (const auto& row : rows) {
        if (row.ticked) {
            names.push_back(row.name);
        }
    }
    return names;
}

bool ApplySkipPage(IniFile& settings, const SkipPageState& page) {
    bool ok = true;
    for (std::size_t i = 0; i < kCompareTree.size(); ++i) {
        ok = settings.WriteIniString(kCompareTree[i].tag, "Compare", page.ticks[i] ? "0" : "1") &&
             ok;
    }
    if (page.selectedTag) {
        ok = ApplyListPage(settings, *page.selectedTag, page.rows) && ok;
    }
    return ok;
}

bool ApplyIgnoreNameCase(IniFile& settings, bool ignore) {
    return settings.WriteIniString(kGeneralSection, kIgnoreNameCaseKey, ignore ? "1" : "0");
}

OptionRows ReadFilterRows(const IniFile& settings, bool include) {
    const FilterPatterns patterns = ReadFilterPatterns(settings);
    OptionRows rows;
    for (const auto& pattern : include ? patterns.include : patterns.exclude) {
        AddOptionRow(rows, pattern);
    }
    return rows;
}

AddOutcome AddFilterRow(OptionRows& rows, std::string_view pattern, std::string& error) {
    error.clear();
    if (pattern.empty()) {
        return {AddResult::Ignored};
    }
    error = CheckFilterPattern(pattern);
    if (!error.empty()) {
        error[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(error[0])));
        error += ".";
        return {AddResult::Refused};
    }
    const AddOutcome outcome = AddOptionRow(rows, pattern);
    if (outcome.result == AddResult::Refused) {
        error = "A pattern cannot contain a line break or a NUL character.";
    }
    return outcome;
}

bool ApplyFilterPage(IniFile& settings, const OptionRows& include, const OptionRows& exclude) {
    return WriteFilterPatterns(settings,
                               FilterPatterns{TickedNames(include), TickedNames(exclude)});
}

bool ApplyListPage(IniFile& settings, std::string_view section, const OptionRows& rows) {
    return WriteStoredList(settings, section, TickedNames(rows));
}

bool ApplyDataPage(IniFile& settings, const OptionRows& rows, RecordMatching matching) {
    const bool listSaved = ApplyListPage(settings, kDataSection, rows);
    return settings.WriteIniString(kDataSection, kMatchRecordsKey, MatchRecordsText(matching)) &&
           listSaved;
}

bool ApplyDataPage(IniFile& settings, const OptionRows& rows, RecordMatching matching,
                   ChecksumUse checksums) {
    const bool saved = ApplyDataPage(settings, rows, matching);
    return settings.WriteIniString(kDataSection, kChecksumsKey, ChecksumsText(checksums)) && saved;
}

}  // namespace kesmark
