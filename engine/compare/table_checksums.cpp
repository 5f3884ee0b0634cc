// Records matched by key through checksums of key ranges: each database
// sums the hashes of its rows per range of keys, both at once; ranges whose
// row counts and checksums agree hold the same rows, and only the rows of
// ranges that differ are read and merged as when every row is read
// (docs/checksums.md).

#include <algorithm>
#include <chrono>
#include <future>

#include "engine/compare/table_data.h"
#include "engine/model/key_order.h"

namespace kesmark {

namespace {

// Two calls, one per database, run at once; the caller waits, yielding and
// looking at the cancel flag. On cancel both databases are asked to stop
// their statement and the calls' errors are dropped.
template <class Result>
std::optional<std::pair<Result, Result>> BothAtOnce(Database& db1, Database& db2, Host& host,
                                                    const std::function<Result()>& call1,
                                                    const std::function<Result()>& call2) {
    auto first = std::async(std::launch::async, call1);
    auto second = std::async(std::launch::async, call2);
    constexpr auto kInterval = std::chrono::milliseconds(40);
    bool cancelled = false;
    for (auto* pending : {&first, &second}) {
        while (pending->wait_for(kInterval) != std::future_status::ready) {
            host.ProcessPendingEvents();
            if (!cancelled && host.CancelRequested()) {
                cancelled = true;
                db1.Interrupt();
                db2.Interrupt();
            }
        }
    }
    if (cancelled || host.CancelRequested()) {
        try {
            first.get();
        } catch (const std::exception&) {
        }
        try {
            second.get();
        } catch (const std::exception&) {
        }
        return std::nullopt;
    }
    // Each future is read, so that both calls have ended before either's
    // error leaves.
    std::exception_ptr error;
    std::optional<Result> result1;
    std::optional<Result> result2;
    try {
        result1 = first.get();
    } catch (...) {
        error = std::current_exception();
    }
    try {
        result2 = second.get();
    } catch (...) {
        if (!error) {
            error = std::current_exception();
        }
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return std::make_pair(std::move(*result1), std::move(*result2));
}

std::string FieldNames(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

}  // namespace

std::string TableDataComparison::ChecksumObstacle(const std::vector<std::string>& read1,
                                                  const std::vector<std::string>& read2) {
    const auto forms1 = db1_.ChecksumForms(table_, read1);
    if (!forms1) {
        return "database 1 cannot compute row checksums";
    }
    const auto forms2 = db2_.ChecksumForms(Table2(), read2);
    if (!forms2) {
        return "database 2 cannot compute row checksums";
    }
    if (forms1->size() != read1.size() || forms2->size() != read2.size()) {
        return "a database did not describe every field";
    }
    const auto& keyFields = pairing_.keyFields;
    for (std::size_t f = 0; f < read1.size(); ++f) {
        const auto& form1 = (*forms1)[f];
        const auto& form2 = (*forms2)[f];
        if (form1.empty() || form2.empty()) {
            return "field '" + read1[f] + "' is of a type whose checksum " +
                   (form1.empty() ? "database 1" : "database 2") + " cannot compute";
        }
        if (!ChecksumFormsAgree(form1, form2)) {
            return "field '" + read1[f] + "' is written as " + form1 + " in database 1 and as " +
                   form2 + " in database 2, which may hash equal values differently";
        }
        const bool isKey =
            std::find(keyFields.begin(), keyFields.end(), read1[f]) != keyFields.end();
        if (isKey && !ChecksumKeyFormsAgree(form1, form2)) {
            return "key field '" + read1[f] + "' (" + form1 + ", " + form2 +
                   ") may order differently in the two databases";
        }
    }
    return {};
}

TableDataComparison::Outcome TableDataComparison::RunByChecksums() {
    const auto& keyFields = pairing_.keyFields;
    const auto& keyFields2 = KeyFields2();
    read1_ = fields_;
    read2_ = Fields2();
    for (std::size_t k = 0; k < keyFields.size(); ++k) {
        if (std::find(read1_.begin(), read1_.end(), keyFields[k]) == read1_.end()) {
            read1_.push_back(keyFields[k]);
            read2_.push_back(keyFields2[k]);
        }
    }
    auto untrusted = [&](const std::string& why) {
        checksumFallback_ = "The rows of table '" + table_ + "' are read, not compared by " +
                            "checksums: " + why + ".";
        return Outcome::Untrusted;
    };
    try {
        if (const std::string obstacle = ChecksumObstacle(read1_, read2_); !obstacle.empty()) {
            return untrusted(obstacle);
        }
        host_.SetStatusText("Comparing data of table " + table_ + " by checksums");
        const Outcome outcome = CompareParts(KeyRange{}, std::nullopt);
        if (outcome == Outcome::Untrusted && checksumFallback_.empty()) {
            return untrusted("the databases did not cut the key ranges alike");
        }
        return outcome;
    } catch (const std::exception& e) {
        // A statement that failed, or an answer that cannot be read: the
        // rows are read instead, and say what fails for good.
        if (host_.CancelRequested()) {
            return Outcome::Cancelled;
        }
        const auto* error = dynamic_cast<const DbError*>(&e);
        return untrusted(error ? error->Description() : std::string(e.what()));
    }
}

TableDataComparison::Outcome TableDataComparison::CompareRange(const KeyRange& range,
                                                               const RangeSummary& summary1,
                                                               const RangeSummary& summary2) {
    if (host_.CancelRequested()) {
        return Outcome::Cancelled;
    }
    if (summary1 == summary2) {
        counts_.same += summary1.rows;
        recordsCompared_ += summary1.rows;
        position1_ += summary1.rows;
        return Outcome::Done;
    }
    // Small enough, or not to be cut by database 1's keys: read its rows.
    if (std::max(summary1.rows, summary2.rows) <= pairing_.checksumRangeRows || summary1.rows < 2) {
        const Outcome outcome = RunByKey(&range, position1_);
        position1_ += summary1.rows;
        return outcome;
    }
    return CompareParts(range, std::make_pair(summary1.rows, summary2.rows));
}

TableDataComparison::Outcome TableDataComparison::CompareParts(
    const KeyRange& range, std::optional<std::pair<std::int64_t, std::int64_t>> rows) {
    const std::int64_t parts = std::max<std::int64_t>(pairing_.checksumParts, 2);
    std::vector<std::vector<Value>> boundaries = db1_.KeyBoundaries(
        table_, pairing_.keyFields, range, parts, rows ? std::optional(rows->first) : rows1_);
    // Each boundary must lie inside the range and follow the one before.
    const std::vector<Value>* previous = range.after.empty() ? nullptr : &range.after;
    for (const auto& boundary : boundaries) {
        if ((previous && CompareKeys(*previous, boundary) >= 0) ||
            (!range.upTo.empty() && CompareKeys(boundary, range.upTo) > 0)) {
            return Outcome::OutOfOrder;
        }
        previous = &boundary;
    }
    const auto& keyFields2 = KeyFields2();
    const auto summaries = BothAtOnce<RangeSummaries>(
        db1_, db2_, host_,
        [&] { return db1_.RangeChecksums(table_, read1_, pairing_.keyFields, range, boundaries); },
        [&] { return db2_.RangeChecksums(Table2(), read2_, keyFields2, range, boundaries); });
    if (!summaries) {
        return Outcome::Cancelled;
    }
    const auto& [parts1, parts2] = *summaries;
    if (parts1.nullKeyRows > 0 || parts2.nullKeyRows > 0) {
        checksumFallback_ = "The rows of table '" + table_ + "' are read, not compared by " +
                            "checksums: rows of database " + (parts1.nullKeyRows > 0 ? "1" : "2") +
                            " have no value (Null) in the key (" + FieldNames(pairing_.keyFields) +
                            ").";
        return Outcome::Untrusted;
    }
    if (parts1.ranges.size() != boundaries.size() + 1 ||
        parts2.ranges.size() != boundaries.size() + 1) {
        return Outcome::Untrusted;
    }
    // The parts must account for every row of the range on each side.
    if (rows) {
        std::int64_t rows1 = 0;
        std::int64_t rows2 = 0;
        for (std::size_t i = 0; i < parts1.ranges.size(); ++i) {
            rows1 += parts1.ranges[i].rows;
            rows2 += parts2.ranges[i].rows;
        }
        if (rows1 != rows->first || rows2 != rows->second) {
            return Outcome::Untrusted;
        }
    }
    rangesCompared_ += static_cast<std::int64_t>(parts1.ranges.size());
    host_.SetStatusText("Comparing data of table " + table_ + " by checksums: " +
                        std::to_string(rangesCompared_) + " key ranges compared");
    for (std::size_t i = 0; i < parts1.ranges.size(); ++i) {
        KeyRange part;
        part.after = i == 0 ? range.after : boundaries[i - 1];
        part.upTo = i < boundaries.size() ? boundaries[i] : range.upTo;
        const Outcome outcome = CompareRange(part, parts1.ranges[i], parts2.ranges[i]);
        if (outcome != Outcome::Done) {
            return outcome;
        }
    }
    return Outcome::Done;
}

}  // namespace kesmark
