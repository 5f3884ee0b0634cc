#pragma once

#include <memory>
#include <string>

#include "engine/backends/access/wire_format.h"
#include "engine/backends/access/worker_client.h"
#include "engine/model/object_model.h"
#include "engine/model/object_tree.h"

namespace kesmark::access {

// Opens an Access file (Jet 3, Jet 4 or ACE) read-only through a reader
// process of its own, which reads the whole schema and keeps it; Kesmark
// keeps the database's properties and the names of its objects, and asks
// the reader for an object when it is read. The reader stays alive until the
// database is closed. Throws DbError when the file cannot be
// opened: not a database the reader knows, password-protected, encrypted,
// damaged, or a reader that fails (see WorkerClient).
//
// OpenRecordset reads the rows of one local table in its stored order
// through the reader, a batch at a time.
std::unique_ptr<Database> OpenAccessDatabase(const std::string& path,
                                             const WorkerOptions& options = {});

// Fills `node` from a schema as the reader sends it. Failures recorded in the
// schema become DbErrors whose description names `fileLabel`.
void FillObjectNode(ObjectNode& node, const WireNode& wire, const std::string& fileLabel);

}  // namespace kesmark::access
