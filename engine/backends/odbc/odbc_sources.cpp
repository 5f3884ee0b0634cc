#include "engine/backends/odbc/odbc_sources.h"

#include <algorithm>
#include <array>

#include "engine/backends/odbc/odbc_handles.h"

namespace kesmark::odbc {

namespace {

// The characters SQLDataSourcesW wrote, cut to the buffer when the value did
// not fit (a truncated entry is listed as far as it was returned).
std::string Returned(const std::array<SQLWCHAR, 1024>& buffer, SQLSMALLINT length) {
    const auto used = std::min<std::size_t>(static_cast<std::size_t>(std::max<int>(length, 0)),
                                            buffer.size() - 1);
    return Narrow(buffer.data(), used);
}

}  // namespace

std::vector<DataSource> ListDataSources() {
    std::vector<DataSource> sources;
    SQLHENV raw = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) {
        return sources;
    }
    const EnvironmentHandle environment(raw);
    SQLSetEnvAttr(raw, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);

    std::array<SQLWCHAR, 1024> name{};
    std::array<SQLWCHAR, 1024> driver{};
    for (;;) {
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT driverLength = 0;
        const SQLRETURN rc = SQLDataSourcesW(
            raw, SQL_FETCH_NEXT, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
            driver.data(), static_cast<SQLSMALLINT>(driver.size()), &driverLength);
        if (!SQL_SUCCEEDED(rc)) {
            break;  // SQL_NO_DATA at the end, or a failure: keep what was read
        }
        DataSource source{Returned(name, nameLength), Returned(driver, driverLength)};
        const bool listed =
            std::any_of(sources.begin(), sources.end(),
                        [&](const DataSource& known) { return known.name == source.name; });
        if (!source.name.empty() && !listed) {
            sources.push_back(std::move(source));
        }
    }
    return sources;
}

}  // namespace kesmark::odbc
