// The HTML report in a real headless browser: it loads nothing from outside,
// its DOM holds what the run found (every node with its state, side and
// reason, the summary, the databases and the time, the line diffs of long
// values), and clicking works: the "Differences only" check box, a node's
// own collapsing, "Collapse all" and "Expand all". On the demo pair and on
// an Access pair. Skipped when no browser is installed.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "tests/engine/backends/access/access_fixtures.h"
#include "tests/support/headless_browser.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

using Json = nlohmann::json;

// JavaScript helpers the checks use: whether an element shows (neither it nor
// an owner hidden by the style sheet nor inside a closed <details>), and the
// nodes of the tree as the page shows them.
constexpr std::string_view kHelpers = R"js(
window.shows = function (selector) {
  const e = document.querySelector(selector);
  if (!e) throw new Error('no element ' + selector);
  return e.checkVisibility();
};
window.nodeLines = function () {
  const nodes = Array.from(document.querySelectorAll('li.node')).map(function (li) {
    const summary = li.querySelector(':scope > details > summary');
    const part = function (name) {
      const e = summary.querySelector('.' + name);
      return e ? e.textContent : '';
    };
    return {key: li.dataset.key, state: li.dataset.state, side: li.dataset.side,
            line: (part('kind') ? part('kind') + ' ' : '') + part('name') + part('reason')};
  });
  // Rows compared by key are lines of a table under theirs.
  const rows = Array.from(document.querySelectorAll('table.rows tr[data-key]')).map(function (tr) {
    return {key: tr.dataset.key, state: 'differs',
            line: tr.cells[0].textContent + ': ' + tr.cells[1].textContent};
  });
  return nodes.concat(rows);
};
true
)js";

class HtmlReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto program = test::HeadlessBrowser::Find();
        if (!program) {
            GTEST_SKIP() << "no chromium installed (scripts/install-deps.sh installs it): the "
                            "HTML report is not tried in a browser";
        }
        browser_.emplace(*program);
        std::filesystem::create_directory(out_);
    }

    // Runs kesmark-diff for the HTML report and, with --all, the text tree
    // of the same pair, opens the report and checks that the page shows the
    // same nodes, in the same order, with the same reasons as the text.
    void OpenAndCheckAgainstTheText(const std::vector<std::string>& options,
                                    const std::string& database1, const std::string& database2) {
        std::vector<std::string> html = {"--settings", settings_.string(), "--html",
                                         report_.string()};
        std::vector<std::string> text = {"--settings", settings_.string(), "--all"};
        for (auto* args : {&html, &text}) {
            args->insert(args->end(), options.begin(), options.end());
            args->insert(args->end(), {database1, database2});
        }
        const auto written = test::RunDiff(html);
        ASSERT_EQ(written.exitCode, 1) << written.err;
        const auto all = test::RunDiff(text);
        ASSERT_EQ(all.exitCode, 1) << all.err;

        browser_->Open(report_);
        ASSERT_EQ(browser_->Evaluate(std::string(kHelpers)), true);

        // Nothing was fetched: no resource besides the page itself.
        EXPECT_EQ(browser_->Evaluate("performance.getEntriesByType('resource').length"), 0);
        EXPECT_EQ(
            browser_->Evaluate("document.querySelectorAll('[src], link, [href], object').length"),
            0);

        // The tree: one line of the text per node, the mark and the
        // indentation aside.
        std::vector<std::string> lines;
        std::istringstream stream(all.out);
        for (std::string line; std::getline(stream, line);) {
            if (!line.starts_with("Summary: ")) {
                lines.push_back(line.substr(line.find_first_not_of(' ', 7)));
            } else {
                summary_ = line.substr(9);
            }
        }
        // The same lines, in another order where rows matched by key come
        // (a table of them under their table).
        const Json nodes = browser_->Evaluate("nodeLines()");
        std::vector<std::string> shown;
        for (const auto& node : nodes) {
            shown.push_back(node["line"]);
            nodes_[node["key"]] = node;
        }
        std::sort(lines.begin(), lines.end());
        std::sort(shown.begin(), shown.end());
        EXPECT_EQ(shown, lines);
        EXPECT_EQ(browser_->Evaluate("document.getElementById('summary-text').textContent"),
                  summary_);
        EXPECT_EQ(browser_->Evaluate("document.getElementById('database1').textContent"),
                  database1);
        EXPECT_EQ(browser_->Evaluate("document.getElementById('database2').textContent"),
                  database2);
        const std::string time =
            browser_->Evaluate("document.getElementById('run-time').textContent");
        EXPECT_TRUE(
            std::regex_match(time, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4})")))
            << time;
    }

    // The state of a node as the page marks it.
    std::string State(const std::string& key) { return nodes_.at(key)["state"]; }
    std::string Side(const std::string& key) { return nodes_.at(key)["side"]; }

    bool Shows(const std::string& selector) {
        return browser_->Evaluate("shows(" + Json(selector).dump() + ")") == true;
    }
    static std::string Node(const std::string& key) {
        return "li.node[data-key=" + Json(key).dump() + "]";
    }
    static std::string Summary(const std::string& key) {
        return Node(key) + " > details > summary";
    }
    std::string Text(const std::string& selector) {
        return browser_->Evaluate("document.querySelector(" + Json(selector).dump() +
                                  ").textContent");
    }

    // The clicks a reader makes: the check box, a node's own collapsing, and
    // the two buttons. `same` is a node whose branch is all the same, `owner`
    // a differing node and `child` a node inside it.
    void CheckClicks(const std::string& same, const std::string& owner, const std::string& child) {
        EXPECT_EQ(browser_->Evaluate("document.getElementById('diff-only').checked"), true);
        EXPECT_FALSE(Shows(Node(same))) << "differences only, at first";
        EXPECT_TRUE(Shows(Node(child)));
        EXPECT_FALSE(Shows(Node(owner) + " .props tr.same")) << "equal properties hidden";

        browser_->Click("label[for=diff-only]");
        EXPECT_EQ(browser_->Evaluate("document.getElementById('diff-only').checked"), false);
        EXPECT_TRUE(Shows(Node(same)));
        browser_->Click("#diff-only");
        EXPECT_FALSE(Shows(Node(same)));

        browser_->Click(Summary(owner));
        EXPECT_EQ(browser_->Evaluate("document.querySelector(" + Json(Node(owner)).dump() +
                                     " + ' > details').open"),
                  false);
        EXPECT_FALSE(Shows(Node(child)));
        EXPECT_TRUE(Shows(Summary(owner)));
        browser_->Click(Summary(owner));
        EXPECT_TRUE(Shows(Node(child)));

        browser_->Click("#collapse-all");
        EXPECT_EQ(browser_->Evaluate("document.querySelectorAll('details[open]').length"), 0);
        EXPECT_TRUE(Shows(Summary("Databases")));
        EXPECT_FALSE(Shows(Summary(owner)));
        browser_->Click("#expand-all");
        EXPECT_EQ(browser_->Evaluate("document.querySelectorAll('details:not([open])').length"), 0);
        EXPECT_TRUE(Shows(Node(child)));
    }

    test::TempDir dir_;
    std::filesystem::path settings_ = test::DefaultSettings(dir_.Path());
    std::filesystem::path out_ = dir_ / "out";
    std::filesystem::path report_ = out_ / "report.html";
    std::optional<test::HeadlessBrowser> browser_;
    std::map<std::string, Json> nodes_;
    std::string summary_;
};

std::string ReadSource(const char* relative) {
    return test::ReadFile(std::filesystem::path(KESMARK_SOURCE_DIR) / relative);
}

TEST_F(HtmlReportTest, DemoPair) {
    const auto v1 = test::MakeSqlite(dir_ / "shop-v1.db", ReadSource("scripts/demo/shop-v1.sql"));
    const auto v2 = test::MakeSqlite(dir_ / "shop-v2.db", ReadSource("scripts/demo/shop-v2.sql"));
    OpenAndCheckAgainstTheText({"--data"}, v1.string(), v2.string());

    EXPECT_EQ(State("TableDefs[Shipments]"), "differs");
    EXPECT_EQ(Side("TableDefs[Shipments]"), "2");
    EXPECT_EQ(Side("TableDefs[Orders].Fields[Note]"), "1");
    EXPECT_EQ(State("TableDefs[OrderLines]"), "same");
    EXPECT_EQ(State("TableDefs[Products].Fields[Price].Records[2]"), "differs");

    // Every property side by side, the differing ones marked.
    const std::string price = Node("TableDefs[Products].Fields[Price]");
    EXPECT_EQ(Text(price + " .props tr.differs td"), "DeclaredType");
    EXPECT_EQ(
        browser_->Evaluate("Array.from(document.querySelectorAll(" +
                           Json(price + " > details > .body > .props tr.differs").dump() +
                           ")).map(r => Array.from(r.cells).map(c => c.textContent).join('|'))"),
        Json::parse(R"json(["DeclaredType|REAL|NUMERIC(10,2)", "Size|8|16", "Type|7|20"])json"));
    EXPECT_GT(
        browser_->Evaluate("document.querySelectorAll(" +
                           Json(price + " > details > .body > .props tr.same").dump() + ").length"),
        0);

    // A long value as a line diff, the changed characters marked.
    const std::string sql = Node("TableDefs[Customers]") + " > details > .body > .textdiff";
    EXPECT_EQ(
        browser_->Evaluate("document.querySelector(" + Json(sql).dump() + ").dataset.property"),
        "SQL");
    EXPECT_EQ(Text(sql + " tr.changed ins"), " NOT NULL DEFAULT ''");
    EXPECT_EQ(Text(sql + " tr.changed td.t1"), "    Email   TEXT,");
    EXPECT_EQ(Text(sql + " tr.changed td.ln"), "4");

    CheckClicks("TableDefs[OrderLines]", "TableDefs[Customers]",
                "TableDefs[Customers].Fields[Email]");
}

TEST_F(HtmlReportTest, AccessPair) {
    KESMARK_REQUIRE_SHARED_TESTDATA();
    // nwind.mdb, and a copy in which one query sorts the other way and a
    // table's description has another letter.
    std::string bytes = test::ReadBytes(test::AccessFile("nwind.mdb"));
    const auto sort =
        test::QueryRowFieldOffset(bytes, "Ten Most Expensive Products", 11, "D", "Name1");
    ASSERT_NE(sort, std::string::npos);
    bytes[sort] = 'A';
    const auto description = test::FindInPage(bytes, test::nwind::kCustomersPropertiesPage,
                                              test::nwind::kPageSize, "Customers' names");
    ASSERT_NE(description, std::string::npos);
    const auto copy = test::WritePatched(dir_.Path(), "changed.mdb", bytes, description, "K");
    const std::string nwind = test::AccessFile("nwind.mdb").string();
    OpenAndCheckAgainstTheText({}, nwind, copy.string());

    const std::string query = "QueryDefs[Ten Most Expensive Products]";
    EXPECT_EQ(State(query), "differs");
    EXPECT_EQ(State("TableDefs[Customers]"), "differs");
    EXPECT_EQ(State("TableDefs[Orders]"), "same");
    const std::string sql = Node(query) + " > details > .body > .textdiff[data-property=SQL]";
    EXPECT_EQ(Text(sql + " tr.changed del"), " DESC");
    EXPECT_TRUE(Shows(sql));

    CheckClicks("TableDefs[Orders]", "Containers[Tables]",
                "Containers[Tables].Documents[Customers]");
}

}  // namespace
}  // namespace kesmark
