#include "tests/ui/dialogs/dialog_test_support.h"

#include <cstdlib>
#include <mutex>

#include "tests/support/test_support.h"

namespace kesmark::test::dialogs {

void UseTestOdbcSetup() {
    static TempDir folder;
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string path = KESMARK_SQLITE_ODBC_DRIVER;
        const std::string driver = path.find("NOTFOUND") == std::string::npos ? path : "";
        WriteFile(folder / "odbcinst.ini", std::string("[") + kSqliteDriver +
                                               "]\nDriver=" + driver + "\n\n[" + kReportsDriver +
                                               "]\nDriver=" + driver + "\n");
        WriteFile(folder / "user-odbc.ini", std::string("[kesmark_two]\nDriver=") + kSqliteDriver +
                                                "\n\n[kesmark_one]\nDriver=" + kSqliteDriver +
                                                "\n");
        WriteFile(folder / "odbc.ini", std::string("[Archive]\nDriver=") + kReportsDriver +
                                           "\n\n[kesmark_one]\nDriver=" + kSqliteDriver + "\n");
        ::setenv("ODBCSYSINI", folder.Path().c_str(), 1);
        ::setenv("ODBCINSTINI", "odbcinst.ini", 1);
        ::setenv("ODBCINI", (folder / "user-odbc.ini").c_str(), 1);
    });
}

}  // namespace kesmark::test::dialogs
