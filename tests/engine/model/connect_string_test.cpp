// Connect strings shown with their passwords masked, and the real string
// recovered from what the user edited.

#include <gtest/gtest.h>

#include "engine/model/connect_string.h"

namespace kesmark {
namespace {

TEST(ConnectString, RestoringThePasswordsOfAnEditedMaskedString) {
    struct Case {
        const char* scenario;
        std::string original;
        std::string edited;  // as the user left the masked text
        std::string restored;
    };
    const Case cases[] = {
        {"unchanged text gives the original back", "ODBC;DSN=x;UID=u;PWD=secret;",
         "ODBC;DSN=x;UID=u;PWD=***;", "ODBC;DSN=x;UID=u;PWD=secret;"},
        {"an edit elsewhere keeps the password", "ODBC;DSN=x;PWD=secret;",
         "ODBC;DSN=y;PWD=***;Database=d;", "ODBC;DSN=y;PWD=secret;Database=d;"},
        {"a password typed anew is kept as typed", "ODBC;DSN=x;PWD=secret;", "ODBC;DSN=x;PWD=new;",
         "ODBC;DSN=x;PWD=new;"},
        {"a braced password with semicolons comes back braced", "ODBC;DSN=x;PWD={a;b}};c};",
         "ODBC;DSN=x;PWD=***;", "ODBC;DSN=x;PWD={a;b}};c};"},
        {"Password= in any case is a password too", "ODBC;PASSWORD=p1;pwd=p2",
         "ODBC;PASSWORD=***;pwd=***", "ODBC;PASSWORD=p1;pwd=p2"},
        {"a mask with no password behind it stays a mask", "ODBC;DSN=x;", "ODBC;DSN=x;PWD=***;",
         "ODBC;DSN=x;PWD=***;"},
        {"no password at all", "ODBC;DSN=x;", "ODBC;DSN=z;", "ODBC;DSN=z;"},
        {"empty", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MaskPasswords(c.original).find("secret"), std::string::npos) << c.scenario;
        EXPECT_EQ(RestorePasswords(c.edited, c.original), c.restored) << c.scenario;
        EXPECT_EQ(RestorePasswords(MaskPasswords(c.original), c.original), c.original)
            << c.scenario << ": masking and restoring is the identity";
    }
}

}  // namespace
}  // namespace kesmark
