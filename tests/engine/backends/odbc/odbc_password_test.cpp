// A PostgreSQL password given to kesmark-diff without the command line: from
// a file or from the environment, and through the driver's option keyword,
// against the suite's server (which checks passwords on its loopback port).

#include <gtest/gtest.h>

#include "tests/engine/backends/odbc/odbc_test_support.h"

namespace kesmark::test::odbc {
namespace {

class OdbcPasswordSupply : public ::testing::Test {
  protected:
    void SetUp() override { RegisterDrivers(); }

    // The connect string of the suite's server without a password.
    std::string WithoutPassword(const std::string& extra = "") const {
        return "ODBC;Driver=" + std::string(kPostgresDriver) + ";Server=" + server_.host +
               ";Port=" + server_.port + ";Database=kesmark_a;UID=" + server_.user + ";" + extra;
    }

    const PostgresServer& server_ = SuiteServer();
    TempDir dir_;
};

TEST_F(OdbcPasswordSupply, ComeFromAFileOrTheEnvironmentAndTheConnectStringsOwnWins) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string settings = DefaultSettings(dir_.Path()).string();
    WriteFile(dir_ / "right", server_.password + "\n");
    WriteFile(dir_ / "wrong", "not-the-password\n");
    const std::string bare = WithoutPassword();
    const std::string right = (dir_ / "right").string();
    const std::string wrong = (dir_ / "wrong").string();
    struct Case {
        const char* scenario;
        std::vector<std::string> args;
        std::vector<EnvironmentChange> environment;
        const char* failure;  // what the server says; null: the run completes
    };
    const std::vector<Case> cases = {
        {"no password anywhere", {bare, bare}, {}, "no password supplied"},
        {"both from files",
         {"--password1-file", right, "--password2-file=" + right, bare, bare},
         {},
         nullptr},
        {"both from the environment",
         {bare, bare},
         {{"KESMARK_PWD1", server_.password}, {"KESMARK_PWD2", server_.password}},
         nullptr},
        {"a file comes before the environment",
         {"--password1-file", right, bare, bare},
         {{"KESMARK_PWD1", "not-the-password"}, {"KESMARK_PWD2", server_.password}},
         nullptr},
        {"the connect string's own password wins over a file",
         {"--password1-file", right, bare + "PWD=not-the-password;", bare},
         {{"KESMARK_PWD2", server_.password}},
         "password authentication failed"},
        {"a wrong file",
         {"--password1-file", wrong, "--password2-file", right, bare, bare},
         {},
         "password authentication failed"},
        {"the driver's option keyword",
         {WithoutPassword("pqopt={password=" + server_.password + "};"), bare},
         {{"KESMARK_PWD2", server_.password}},
         nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--json", "--settings", settings};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = RunCommand(KESMARK_DIFF_PATH, args, c.environment);
        EXPECT_EQ(result.exitCode, c.failure ? 2 : 0) << c.scenario << "\n"
                                                      << result.out << result.err;
        EXPECT_EQ((result.out + result.err).find(server_.password), std::string::npos)
            << c.scenario << ": the password shows\n"
            << result.out << result.err;
        if (c.failure) {
            EXPECT_NE(result.err.find(c.failure), std::string::npos) << c.scenario << "\n"
                                                                     << result.err;
        }
    }
}

}  // namespace
}  // namespace kesmark::test::odbc
