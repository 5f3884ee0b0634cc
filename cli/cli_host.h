#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/compare/host.h"

namespace kesmark::cli {

struct Message {
    std::string text;
    std::string caption;
};

// The host of a command-line run: messages go to standard error as
// "caption: text" (and are kept for the JSON document); status and progress
// appear on standard error only when it is a terminal and `quiet` is off;
// Ctrl+C sets the cancel flag, a second Ctrl+C ends the program at once.
class CliHost : public Host {
  public:
    explicit CliHost(bool quiet = false);

    void SetStatusText(std::string_view text) override;
    void SetProgressPosition(int position) override;
    void ProcessPendingEvents() override {}
    bool CancelRequested() const override;
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
    void SetBusyPointer(bool) override {}

    // Clears the status line, if one was drawn.
    void FinishStatusLine();
    const std::vector<Message>& Messages() const { return messages_; }

    // Installs the SIGINT handler that sets the flag CancelRequested reads.
    static void InstallInterruptHandler();

  private:
    void DrawStatusLine();

    bool interactive_;
    std::string status_;
    int progress_ = 0;
    bool lineDrawn_ = false;
    std::vector<Message> messages_;
};

}  // namespace kesmark::cli
