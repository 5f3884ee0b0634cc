#include "cli/listing.h"

namespace kesmark::cli {

// Keeps the last message instead of showing it.
class DatabaseListing::QuietHost : public Host {
  public:
    void SetStatusText(std::string_view) override {}
    void SetProgressPosition(int) override {}
    void ProcessPendingEvents() override {}
    bool CancelRequested() const override { return false; }
    void ShowMessage(std::string_view text, std::string_view, MessageIcon) override {
        lastMessage = std::string(text);
    }
    void SetBusyPointer(bool) override {}

    std::string lastMessage;
};

DatabaseListing::DatabaseListing(RunInputs inputs, const ComparisonOptions& options,
                                 DatabaseOpener opener, Host& host, bool showProgress)
    : inputs_(std::move(inputs)),
      opener_(std::move(opener)),
      status_(host),
      showProgress_(showProgress),
      cancelledBefore_(host.CancelRequested()),
      host_(std::make_unique<QuietHost>()),
      view_(inputs_, options, *host_, list_, opener_) {}

DatabaseListing::~DatabaseListing() {
    // The objects the view keeps go before their databases.
    view_.Forget();
}

bool DatabaseListing::List(const std::string& key, std::vector<MemoryPropertyList::Row>& rows,
                           std::string& error) {
    if (!cancelledBefore_ && status_.CancelRequested()) {
        throw ListingCancelled();
    }
    if (!opened_) {
        opened_ = true;
        try {
            db1_ = opener_(inputs_.database1, inputs_.connect1);
            db2_ = opener_(inputs_.database2, inputs_.connect2);
        } catch (const std::exception& e) {
            const std::string name = db1_ ? inputs_.database2 : inputs_.database1;
            openError_ = OpenFailureMessage(name, AsDbError(e));
            db1_.reset();
            db2_.reset();
        }
    }
    rows.clear();
    if (!db1_ || !db2_) {
        error = openError_;
        return false;
    }
    if (showProgress_ && ++listed_ % 100 == 1) {
        status_.SetStatusText("Listing properties for the report: " + key);
    }
    list_.Clear();
    host_->lastMessage.clear();
    const bool listed = view_.ListNodeProperties(*db1_, *db2_, key);
    rows = list_.Rows();
    if (!listed) {
        error = host_->lastMessage;
    }
    return listed;
}

}  // namespace kesmark::cli
