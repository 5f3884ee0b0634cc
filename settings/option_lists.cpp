#include "settings/option_lists.h"

#include <algorithm>

#include "engine/model/text.h"

namespace kesmark {

std::vector<std::string> ReadStoredList(const IniFile& settings, std::string_view section) {
    return ReadStoredList(settings.Now(), section);
}

namespace {

// A numbered list of `section`: Num<item> entries <item>1..<item>N.
std::vector<std::string> ReadNumbered(const IniFile::View& settings, std::string_view section,
                                      std::string_view item) {
    // Positions past the highest key present would all be empty names,
    // which match nothing: a huge count costs no more than the keys.
    const long count = std::min(settings.ReadIniInt(section, "Num" + std::string(item), 0),
                                settings.HighestNumberedKey(section, item));
    std::vector<std::string> names;
    for (long i = 1; i <= count; ++i) {
        names.push_back(settings.ReadIniString(section, std::string(item) + std::to_string(i), ""));
    }
    return names;
}

bool WriteNumbered(IniFile& settings, std::string_view section, std::string_view item,
                   const std::vector<std::string>& names) {
    bool ok = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        ok =
            settings.WriteIniString(section, std::string(item) + std::to_string(i + 1), names[i]) &&
            ok;
    }
    return settings.WriteIniString(section, "Num" + std::string(item),
                                   std::to_string(names.size())) &&
           ok;
}

std::vector<std::string> WithoutEmpty(std::vector<std::string> names) {
    std::erase(names, std::string());
    return names;
}

}  // namespace

std::vector<std::string> ReadStoredList(const IniFile::View& settings, std::string_view section) {
    return ReadNumbered(settings, section, "Skip");
}

bool WriteStoredList(IniFile& settings, std::string_view section,
                     const std::vector<std::string>& names) {
    return WriteNumbered(settings, section, "Skip", names);
}

FilterPatterns ReadFilterPatterns(const IniFile& settings) {
    const IniFile::View now = settings.Now();
    return FilterPatterns{WithoutEmpty(ReadNumbered(now, kFilterSection, "Include")),
                          WithoutEmpty(ReadNumbered(now, kFilterSection, "Exclude"))};
}

bool WriteFilterPatterns(IniFile& settings, const FilterPatterns& patterns) {
    const bool included = WriteNumbered(settings, kFilterSection, "Include", patterns.include);
    const bool excluded = WriteNumbered(settings, kFilterSection, "Exclude", patterns.exclude);
    return included && excluded;
}

SkipList LoadSkipList(const IniFile& settings, std::string_view tag, ComparisonSwitches switches) {
    const IniFile::View now = settings.Now();
    SkipList list = ReadStoredList(now, tag);
    if (!switches.strict) {
        auto strict = ReadStoredList(now, kStrictSection);
        list.insert(list.end(), strict.begin(), strict.end());
    }
    if (!switches.data) {
        auto data = ReadStoredList(now, kDataSection);
        list.insert(list.end(), data.begin(), data.end());
    }
    if (!switches.sameKind) {
        auto engine = ReadStoredList(now, kEngineSection);
        list.insert(list.end(), engine.begin(), engine.end());
    }
    return list;
}

bool CompareFlag(const IniFile& settings, std::string_view tag) {
    return settings.ReadIniInt(tag, "Compare", 0) != 0;
}

DataOptions ReadDataOptions(const IniFile& settings) {
    const IniFile::View now = settings.Now();
    DataOptions data;
    const std::string matching = now.ReadIniString(kDataSection, kMatchRecordsKey, "");
    if (FoldAsciiCase(matching) == "position") {
        data.matching = RecordMatching::Position;
    }
    const DataOptions defaults;
    data.maxRows = std::max<long>(
        now.ReadIniInt(kDataSection, kMaxRowsKey, static_cast<long>(defaults.maxRows)), 0);
    if (FoldAsciiCase(now.ReadIniString(kDataSection, kChecksumsKey, "")) == "off") {
        data.checksums = ChecksumUse::Off;
    }
    data.checksumRangeRows =
        std::max<long>(now.ReadIniInt(kDataSection, kChecksumRangeRowsKey,
                                      static_cast<long>(defaults.checksumRangeRows)),
                       1);
    return data;
}

std::string_view MatchRecordsText(RecordMatching matching) {
    return matching == RecordMatching::Position ? "Position" : "Key";
}

std::string_view ChecksumsText(ChecksumUse use) {
    return use == ChecksumUse::Off ? "Off" : "Auto";
}

bool IgnoreNameCase(const IniFile& settings) {
    return settings.ReadIniInt(kGeneralSection, kIgnoreNameCaseKey, 0) != 0;
}

bool IniComparisonOptions::CompareFlag(std::string_view tag) const {
    return kesmark::CompareFlag(settings_, tag);
}

SkipList IniComparisonOptions::LoadSkipList(std::string_view tag,
                                            ComparisonSwitches switches) const {
    return kesmark::LoadSkipList(settings_, tag, switches);
}

DataOptions IniComparisonOptions::Data() const {
    return ReadDataOptions(settings_);
}

bool IniComparisonOptions::IgnoreNameCase() const {
    return ignoreNameCase_.value_or(kesmark::IgnoreNameCase(settings_));
}

}  // namespace kesmark

namespace kesmark {

FilterPatterns IniComparisonOptions::Filters() const {
    return ReadFilterPatterns(settings_);
}

}  // namespace kesmark
