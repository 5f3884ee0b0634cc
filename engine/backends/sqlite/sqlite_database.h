#pragma once

#include <memory>
#include <string>

#include "engine/model/object_model.h"

namespace kesmark::sqlite {

// Opens a SQLite database file read-only. The file is never changed and
// nothing is created beside it: the file is opened immutable, unless a
// "-wal" or "-journal" file lies beside it, in which case a private copy of
// the file and that journal is made in a temporary folder and read, so that
// committed rows still in the write-ahead log are seen. The copy is removed
// when the database is closed.
// Throws DbError when the file cannot be opened or is not a SQLite database.
std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path);

}  // namespace kesmark::sqlite
