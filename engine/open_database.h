#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/model/connect_string.h"
#include "engine/model/object_model.h"

namespace kesmark {

// Opens one side of a comparison, always read-only.
// - A connect string beginning "ODBC;" (any case) names an ODBC source; the
//   name is then not used to find a file.
// - Otherwise the name is a file, and its first bytes pick the backend:
//   SQLite ("SQLite format 3") or Access ("Standard Jet DB"/"Standard ACE DB").
// Throws DbError with a message naming the file when it is missing, a
// folder, empty, unreadable or of a kind Kesmark cannot read.
std::unique_ptr<Database> OpenDatabase(const std::string& name, const std::string& connect);

// Removes the temporary files the backends hold (a private copy of a
// database while it is being made). Safe in a signal handler.
void RemoveTemporaryFiles() noexcept;

// Installs handlers for SIGTERM and SIGHUP that remove the temporary files
// and then end the program as the signal would have. For the programs'
// start-up.
void RemoveTemporaryFilesOnTermination();

// One ODBC data source the driver manager knows: its name and its driver.
struct OdbcDataSource {
    std::string name;
    std::string driver;
};

// Every data source of the ODBC driver manager, user sources before system
// sources; a name listed in both is kept once. Never throws: the list is empty
// when the driver manager cannot be reached.
std::vector<OdbcDataSource> ListOdbcDataSources();

}  // namespace kesmark
