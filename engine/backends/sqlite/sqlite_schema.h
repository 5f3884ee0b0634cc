#pragma once

#include <sqlite3.h>

#include <string>

#include "engine/model/object_tree.h"

namespace kesmark::sqlite {

// Fills the database node with the collections TableDefs, QueryDefs,
// Relations and Containers read from the schema of `db`. Collections are
// filled on first use. `db` must outlive the node's use. Errors name `file`
// and what was being read.
void BuildSchema(sqlite3* db, ObjectNode& root, const std::string& file);

}  // namespace kesmark::sqlite
