#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/report.h"
#include "engine/compare/comparison_run.h"
#include "view/result_view.h"

namespace kesmark::cli {

// The property listings of a report, read after the run through the result
// view over one pair of databases opened for all of them (on the first
// listing). Failures are not shown: each listing hands its message back.
class DatabaseListing : public NodeListing {
  public:
    // `options` and `status` are not owned and must outlive the listing;
    // `status`, when not null, shows the progress of the listings.
    DatabaseListing(RunInputs inputs, const ComparisonOptions& options, DatabaseOpener opener,
                    Host* status);
    ~DatabaseListing() override;

    bool List(const std::string& key, std::vector<MemoryPropertyList::Row>& rows,
              std::string& error) override;

  private:
    class QuietHost;

    RunInputs inputs_;
    DatabaseOpener opener_;
    Host* status_;  // Not owned; may be null.
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
