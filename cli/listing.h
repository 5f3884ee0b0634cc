#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/report.h"
#include "engine/compare/comparison_run.h"
#include "view/result_view.h"

namespace kesmark::cli {

// Thrown by a listing when the user cancels while a report is written.
struct ListingCancelled : std::exception {
    const char* what() const noexcept override { return "cancelled"; }
};

// The property listings of a report, read after the run through the result
// view over one pair of databases opened for all of them (on the first
// listing). Failures are not shown: each listing hands its message back.
class DatabaseListing : public NodeListing {
  public:
    // `options` and `host` are not owned and must outlive the listing. The
    // host's cancel flag is read before each listing; with `showProgress`,
    // its status text shows how far the listings are.
    DatabaseListing(RunInputs inputs, const ComparisonOptions& options, DatabaseOpener opener,
                    Host& host, bool showProgress);
    ~DatabaseListing() override;

    // As NodeListing::List. Throws ListingCancelled when the user asked to
    // cancel since the listing was made (a cancel of the run itself, before,
    // does not count: its report is still written).
    bool List(const std::string& key, std::vector<MemoryPropertyList::Row>& rows,
              std::string& error) override;

  private:
    class QuietHost;

    RunInputs inputs_;
    DatabaseOpener opener_;
    Host& status_;  // Not owned.
    bool showProgress_;
    bool cancelledBefore_;
    std::unique_ptr<QuietHost> host_;
    MemoryPropertyList list_;
    ResultView view_;
    std::unique_ptr<Database> db1_;
    std::unique_ptr<Database> db2_;
    bool opened_ = false;
    std::string openError_;
    std::size_t listed_ = 0;
};

}  // namespace kesmark::cli
