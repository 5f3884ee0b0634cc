#include "tests/engine/backends/odbc/odbc_test_support.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace kesmark::test::odbc {

namespace {

std::string DriverPath(const char* configured) {
    const std::string path = configured;
    if (path.empty() || path.ends_with("-NOTFOUND") || !fs::exists(path)) {
        return {};
    }
    return path;
}

// The per-process folder of odbcinst.ini and odbc.ini; removed at exit.
class OdbcFolder {
  public:
    OdbcFolder() {
        std::string tmpl = (fs::temp_directory_path() / "kesmark-odbc-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) {
            path_ = tmpl;
        }
    }
    ~OdbcFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

std::string PostgresServer::Connect(const std::string& database, const std::string& extra) const {
    return "ODBC;Driver=" + std::string(kPostgresDriver) + ";Server=" + host + ";Port=" + port +
           ";Database=" + database + ";UID=" + user + ";PWD=" + password + ";" + extra;
}

std::string PostgresServer::Psql(const std::string& database, const std::string& sql) const {
    const std::string command = "PGPASSWORD=" + ShellQuote(password) + " " + bindir +
                                "/psql -X -q -At -v ON_ERROR_STOP=1 -h " + host + " -p " + port +
                                " -U " + user + " -d " + ShellQuote(database) + " -c " +
                                ShellQuote(sql) + " 2>&1";
    std::string output;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, read);
        }
        const int status = ::pclose(pipe);
        EXPECT_EQ(status, 0) << "psql failed on " << database << ": " << sql << "\n" << output;
    } else {
        ADD_FAILURE() << "cannot run psql";
    }
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

PostgresServer ReadPostgresState(const fs::path& stateDir) {
    PostgresServer server;
    server.stateDir = stateDir;
    std::ifstream in(stateDir / "postgres.env");
    if (!in) {
        server.reason = "no state file in " + stateDir.string() +
                        " (the server is started by the ctest fixture odbc_postgres_start; run "
                        "the tests through ctest)";
        return server;
    }
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    if (values["status"] != "running") {
        server.reason = values["reason"].empty() ? "the server is not running" : values["reason"];
        return server;
    }
    server.available = true;
    server.host = values["host"];
    server.port = values["port"];
    server.user = values["user"];
    server.password = values["password"];
    server.bindir = values["bindir"];
    return server;
}

const PostgresServer& SuiteServer() {
    static const PostgresServer server = ReadPostgresState(KESMARK_POSTGRES_STATE_DIR);
    return server;
}

OdbcFolder& RegisteredFolder() {
    static OdbcFolder folder;
    return folder;
}

const Drivers& RegisterDrivers() {
    static OdbcFolder& folder = RegisteredFolder();
    static const Drivers drivers = [] {
        Drivers found;
        const std::string sqlite = DriverPath(KESMARK_SQLITE_ODBC_DRIVER);
        const std::string postgres = DriverPath(KESMARK_POSTGRES_ODBC_DRIVER);
        if (sqlite.empty()) {
            found.sqliteMissing =
                "the SQLite ODBC driver (package libsqliteodbc) was not found when building";
        }
        if (postgres.empty()) {
            found.postgresMissing =
                "the PostgreSQL ODBC driver (package odbc-postgresql) was not found when building";
        }
        std::ofstream drivers(folder.Path() / "odbcinst.ini");
        if (!sqlite.empty()) {
            drivers << "[" << kSqliteDriver
                    << "]\nDescription=SQLite 3 for the tests\nDriver=" << sqlite << "\n\n";
        }
        if (!postgres.empty()) {
            drivers << "[" << kPostgresDriver
                    << "]\nDescription=PostgreSQL for the tests\nDriver=" << postgres << "\n\n";
        }
        std::ofstream sources(folder.Path() / "odbc.ini");
        if (!sqlite.empty()) {
            sources << "[" << kMissingSqliteDsn << "]\nDriver=" << kSqliteDriver
                    << "\nDatabase=" << (folder.Path() / "missing-by-dsn.db").string() << "\n\n";
        }
        const PostgresServer& server = SuiteServer();
        if (server.available) {
            for (const char* database : {"kesmark_a", "kesmark_b"}) {
                sources << "[" << database << "]\nDriver=" << kPostgresDriver
                        << "\nServername=" << server.host << "\nPort=" << server.port
                        << "\nDatabase=" << database << "\n\n";
            }
            // A data source that reads whole results, as the driver does
            // when told nothing.
            sources << "[" << kBufferedSource << "]\nDriver=" << kPostgresDriver
                    << "\nServername=" << server.host << "\nPort=" << server.port
                    << "\nDatabase=kesmark_a\nUseDeclareFetch=0\n\n";
        }
        ::setenv("ODBCSYSINI", folder.Path().c_str(), 1);
        ::setenv("ODBCINSTINI", "odbcinst.ini", 1);
        ::setenv("ODBCINI", (folder.Path() / "odbc.ini").c_str(), 1);
        return found;
    }();
    return drivers;
}

fs::path MissingSqliteDsnFile() {
    RegisterDrivers();
    return RegisteredFolder().Path() / "missing-by-dsn.db";
}

std::string SqliteDriverLibrary() {
    return DriverPath(KESMARK_SQLITE_ODBC_DRIVER);
}

std::string SqliteConnect(const fs::path& database) {
    return "ODBC;Driver=" + std::string(kSqliteDriver) + ";Database=" + database.string() +
           ";NoCreat=1;";
}

JsonRun ParseJsonRun(const std::string& json) {
    JsonRun run;
    const auto doc = nlohmann::json::parse(json, nullptr, false);
    if (doc.is_discarded()) {
        ADD_FAILURE() << "kesmark-diff printed no JSON document:\n" << json;
        return run;
    }
    run.same = doc.value("same", false);
    run.completed = doc.value("completed", false);
    for (const auto& node : doc["nodes"]) {
        const std::string key = node["key"].get<std::string>();
        const int image = node["image"].get<int>();
        run.nodes.push_back(key + " " + std::to_string(image));
        if (image % 2 == 0) {
            run.differences.push_back(key);
        }
    }
    for (const auto& message : doc["messages"]) {
        run.messages.push_back(message["text"].get<std::string>());
    }
    return run;
}

}  // namespace kesmark::test::odbc
