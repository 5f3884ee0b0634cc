#pragma once

// DAO type codes and sizes for SQLite's declared column types. The rules are
// described for users in docs/backends.md ("Type from the declared type").

#include <string_view>

#include "engine/backends/sqlite/sqlite_database.h"

namespace kesmark::sqlite {

// DAO's Size of a field of DAO type `daoType` declared as `declaredType`: for
// text and binary types the first number in parentheses ("VARCHAR(50)" -> 50,
// 0 when there is none), for the others DAO's size in bytes (Long 4, Double
// 8, GUID 16, Memo and Long binary 0).
int DaoSizeFromDeclaredType(std::string_view declaredType, int daoType);

// True for DAO types whose values have one fixed size (numbers, dates,
// Booleans, GUIDs): DAO marks such fields dbFixedField, the others
// dbVariableField.
bool IsFixedSizeDaoType(int daoType);

}  // namespace kesmark::sqlite
