#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

#include "engine/backends/sqlite/sqlite_catalog.h"
#include "engine/model/object_tree.h"

namespace kesmark::sqlite {

// Fills the database node with the collections TableDefs, QueryDefs,
// Relations and Containers read through `reader`. Collections are filled on
// first use; tables, views, relations and documents are described when they
// are read. The reader's connection must outlive the node's use. Errors name
// `file` and what was being read.
void BuildSchema(std::shared_ptr<SchemaReader> reader, ObjectNode& root, const std::string& file);

}  // namespace kesmark::sqlite
