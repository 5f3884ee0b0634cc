// Connect strings: secrets found and hidden wherever they stand, and a
// password supplied from outside the command line.

#include "engine/model/connect_string.h"

#include <gtest/gtest.h>

namespace kesmark {
namespace {

struct MaskCase {
    const char* scenario;
    std::string connect;
    std::string masked;
};

TEST(MaskPasswords, HidesEverySecretWhereverItStands) {
    const std::vector<MaskCase> cases = {
        {"PWD", "ODBC;DSN=shop;UID=me;PWD=secret;", "ODBC;DSN=shop;UID=me;PWD=***;"},
        {"a password with blanks around it", "ODBC;PWD = secret ;DSN=x", "ODBC;PWD = *** ;DSN=x"},
        {"the PostgreSQL driver's option keyword",
         "ODBC;Driver=PostgreSQL Unicode;pqopt={password=hunter22 sslmode=require};UID=me",
         "ODBC;Driver=PostgreSQL Unicode;pqopt={password=*** sslmode=require};UID=me"},
        {"a quoted option password with an escaped quote",
         "ODBC;pqopt={sslmode=require password = 'a b\\' c'};DSN=x",
         "ODBC;pqopt={sslmode=require password = ***};DSN=x"},
        {"option words that are no secret stay", "ODBC;pqopt={sslmode=require};DSN=x",
         "ODBC;pqopt={sslmode=require};DSN=x"},
        {"every key whose name says it holds a secret",
         "ODBC;SSLPassword=k3y-pass;ClientSecret=abcdef;AccessToken=t0k3n;Passwd=x;UID=me",
         "ODBC;SSLPassword=***;ClientSecret=***;AccessToken=***;Passwd=***;UID=me"},
        {"the password again as another key's value", "ODBC;UID=hunter2;PWD=hunter2;",
         "ODBC;UID=***;PWD=***;"},
        {"a short password hidden where it is a whole value only",
         "ODBC;UID=ab;PWD=ab;Database=abc", "ODBC;UID=***;PWD=***;Database=abc"},
        {"a longer password inside another value", "ODBC;Database=/x/hunter22/db;PWD=hunter22",
         "ODBC;Database=/x/***/db;PWD=***"},
        {"an option password as another key's value", "ODBC;UID=s3cr3t;pqopt={password=s3cr3t}",
         "ODBC;UID=***;pqopt={password=***}"},
        {"an unclosed brace hides to the end", "ODBC;PWD={abc;DSN=x", "ODBC;PWD=***"},
        {"a file name", "plain.db", "plain.db"},
        {"a file name with an equals sign", "/data/a=b.db", "/data/a=b.db"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MaskPasswords(c.connect), c.masked) << c.scenario;
    }
}

TEST(ConnectStringSecrets, IncludeOptionPasswords) {
    EXPECT_EQ(ConnectStringSecrets("ODBC;PWD={a;b};pqopt={password='x y' sslmode=z};Token=;"),
              (std::vector<std::string>{"a;b", "x y"}));
}

TEST(WithPassword, AddsAPasswordThatReadsBackAsGiven) {
    for (const std::string password :
         {"plain", "semi;colon", "{braced}", "close}brace", " blanks ", "", "a=b"}) {
        const std::string connect = WithPassword("ODBC;DSN=shop;UID=me", password);
        const auto attributes = ConnectAttributes(connect);
        ASSERT_EQ(attributes.size(), 3u) << connect;
        EXPECT_EQ(attributes.back().key, "PWD") << connect;
        EXPECT_EQ(attributes.back().value, password) << connect;
        EXPECT_EQ(MaskPasswords(connect), "ODBC;DSN=shop;UID=me;PWD=***") << connect;
    }
    EXPECT_EQ(WithPassword("ODBC;DSN=shop;", "p"), "ODBC;DSN=shop;PWD=p");
}

TEST(WithPassword, TheConnectStringsOwnPasswordWins) {
    for (const std::string connect :
         {"ODBC;DSN=shop;PWD=own;", "ODBC;DSN=shop;password=own", "ODBC;DSN=shop;Pwd=;"}) {
        EXPECT_EQ(WithPassword(connect, "other"), connect);
    }
}

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
