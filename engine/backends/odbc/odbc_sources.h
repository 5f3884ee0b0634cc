#pragma once

// The data sources the ODBC driver manager knows, as the logon dialog lists
// them.

#include <string>
#include <vector>

namespace kesmark::odbc {

// One data source: its name and the description of the driver it uses (the
// driver's name as registered with the driver manager).
struct DataSource {
    std::string name;
    std::string driver;
};

// Every data source of the driver manager, user sources before system
// sources, in the driver manager's order; a name listed in both is kept the
// first time only. Never throws: when the driver manager cannot be reached
// the list is empty, and when listing fails half-way it holds the sources
// read so far.
std::vector<DataSource> ListDataSources();

}  // namespace kesmark::odbc
