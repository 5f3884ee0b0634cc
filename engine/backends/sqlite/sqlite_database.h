#pragma once

#include <memory>
#include <string>

#include "engine/model/object_model.h"

namespace kesmark::sqlite {

// Opens a SQLite database file read-only, as one consistent state of it for
// as long as it is open (sqlite_snapshot.h says how). The file is never
// changed and nothing is created beside it. Throws DbError when the file
// cannot be opened or is not a SQLite database; every later error names the
// file and what was being read.
std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path);

}  // namespace kesmark::sqlite
