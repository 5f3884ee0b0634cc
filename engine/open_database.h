#pragma once

#include <memory>
#include <string>

#include "engine/object_model.h"

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

// True when `text` begins with "ODBC;" in any letter case.
bool IsOdbcConnectString(const std::string& text);

// The connect string with every password value replaced by "***"
// ("ODBC;DSN=x;PWD=secret;" -> "ODBC;DSN=x;PWD=***;"), for messages and output.
std::string MaskPasswords(const std::string& text);

}  // namespace kesmark
