#include "engine/sync/sync_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kesmark::sync {

namespace {

std::unique_ptr<Database> Open(const DatabaseOpener& opener, const std::string& name,
                               const std::string& connect) {
    try {
        return opener(name, connect);
    } catch (const DbError& e) {
        throw DbError(e.Number(), OpenFailureMessage(name.empty() ? connect : name, e), e.Source());
    }
}

DbError FileError(const std::string& path, const std::string& what) {
    return DbError(errors::kCannotOpen,
                   "The sync script '" + path + "' cannot be written: " + what + ".", "Kesmark");
}

}  // namespace

SyncSummary WriteSyncScriptFor(const RunInputs& inputs, const ComparisonOptions& options,
                               const DatabaseOpener& opener, std::ostream& out, Host& host,
                               const RunFindings* findings) {
    SyncRequest request;
    request.rows = inputs.switches.data;
    request.scope.tables = options.CompareFlag("TableDefs");
    request.scope.fields = options.CompareFlag("TableFields");
    request.scope.indexes = options.CompareFlag("Indexes");
    request.scope.views = options.CompareFlag("QueryDefs");
    request.scope.relations = options.CompareFlag("Relations");
    request.scope.triggers = options.CompareFlag("Containers") && options.CompareFlag("Documents");
    FilterPatterns patterns = options.Filters();
    patterns.include.insert(patterns.include.end(), inputs.filters.include.begin(),
                            inputs.filters.include.end());
    patterns.exclude.insert(patterns.exclude.end(), inputs.filters.exclude.begin(),
                            inputs.filters.exclude.end());
    std::string error;
    auto filter = NodeFilter::Make(patterns, error);
    if (!filter) {
        throw DbError(errors::kInvalidArgument, error, "Kesmark");
    }
    request.scope.filter = std::move(*filter);
    request.findings = findings;
    auto db1 = Open(opener, inputs.database1, inputs.connect1);
    auto db2 = Open(opener, inputs.database2, inputs.connect2);
    request.byMeaning = !(db1->Kind() == db2->Kind());
    SyncSummary summary = WriteSyncScript(*db1, *db2, request, out, host);
    db1->Close();
    db2->Close();
    return summary;
}

SyncSummary WriteSyncScriptFile(const RunInputs& inputs, const ComparisonOptions& options,
                                const DatabaseOpener& opener, const std::string& path, Host& host,
                                const RunFindings* findings) {
    const std::string part = path + ".part";
    SyncSummary summary;
    {
        std::ofstream file(part, std::ios::binary | std::ios::trunc);
        if (!file) {
            throw FileError(path, std::strerror(errno));
        }
        try {
            summary = WriteSyncScriptFor(inputs, options, opener, file, host, findings);
        } catch (...) {
            file.close();
            std::remove(part.c_str());
            throw;
        }
        file.close();
        if (!file) {
            std::remove(part.c_str());
            throw FileError(path, "writing failed (is the disk full?)");
        }
    }
    if (!summary.completed) {
        std::remove(part.c_str());
        return summary;
    }
    std::error_code ec;
    std::filesystem::rename(part, path, ec);
    if (ec) {
        std::remove(part.c_str());
        throw FileError(path, ec.message());
    }
    return summary;
}

}  // namespace kesmark::sync
