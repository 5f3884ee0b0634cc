#pragma once

#include <sqlite3.h>

#include <memory>

#include "engine/backends/sqlite/sqlite_catalog.h"
#include "engine/model/object_tree.h"

namespace kesmark::sqlite {

// Fills the database node with the collections TableDefs, QueryDefs,
// Relations and Containers read through `reader`. Collections are filled on
// first use; tables, views, relations and documents are described when they
// are read. The reader's connection must outlive the node's use.
void BuildSchema(std::shared_ptr<SchemaReader> reader, ObjectNode& root);

}  // namespace kesmark::sqlite
