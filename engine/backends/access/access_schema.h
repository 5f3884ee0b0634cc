#pragma once

// The object model of an Access file, read from its catalog: the rows of
// MSysObjects (the table definition on page 2, read directly), the stored
// properties of each object, the raw table definitions and the rows of
// MSysRelationships. The result uses DAO's collection names, property names
// and type codes (see docs/backends.md); it runs inside the reader process.

#include "engine/backends/access/jet_file.h"
#include "engine/backends/access/wire_format.h"

namespace kesmark::access {

// The database node: its properties (all but Name, which only the caller
// knows) and the collections TableDefs, QueryDefs, Relations
// and Containers, each member with its properties and child collections.
//
// A failure that concerns one object (a damaged table definition, a damaged
// block of stored properties, an unreadable relation table) is recorded on
// that object's property set or collection and does not stop the rest.
// Throws FormatError when the catalog itself cannot be read.
WireNode ReadSchema(JetFile& file);

}  // namespace kesmark::access
