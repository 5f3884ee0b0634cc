#pragma once

#include <memory>
#include <string>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/model/object_model.h"

namespace kesmark::odbc {

// Opens the ODBC source named by `connectString` ("ODBC;DSN=shop;UID=me;",
// the "ODBC;" prefix in any letter case and optional) as a read-only
// Database: the driver manager connects without prompting, and the
// connection is read-only in fact (see Connection::Open). `name` is the
// database's Name; when empty, the connect string with its passwords masked
// stands for it.
// Throws DbError ("cannot connect to '...': [SQLSTATE] message") when the
// source cannot be reached; the password never appears in it.
std::unique_ptr<Database> OpenOdbcDatabase(const std::string& name,
                                           const std::string& connectString,
                                           Timeouts timeouts = {});

}  // namespace kesmark::odbc
