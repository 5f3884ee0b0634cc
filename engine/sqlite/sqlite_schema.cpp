#include "engine/sqlite/sqlite_schema.h"

namespace kesmark::sqlite {

void BuildSchema(sqlite3* /*db*/, ObjectNode& root) {
    for (auto name : {"TableDefs", "QueryDefs", "Relations", "Containers"}) {
        root.Collection(name);
    }
}

}  // namespace kesmark::sqlite
