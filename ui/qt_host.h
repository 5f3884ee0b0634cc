#pragma once

#include <functional>
#include <string>

#include "engine/compare/host.h"

namespace kesmark::ui {

class frmMain;

// The host of a run started from the main window: status text and progress
// go to the window's bars, yields let Qt handle pending events (so the window
// stays responsive and a second click on the button cancels), messages are
// modal message boxes owned by the window.
class QtHost : public Host {
  public:
    // A replacement for the message box (tests record messages instead of
    // showing them).
    using MessageHandler =
        std::function<void(const std::string& text, const std::string& caption, MessageIcon)>;

    explicit QtHost(frmMain& window) : window_(window) {}

    void SetStatusText(std::string_view text) override;
    void SetProgressPosition(int position) override;
    void ProcessPendingEvents() override;
    bool CancelRequested() const override;
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
    void SetBusyPointer(bool busy) override;

    void SetMessageHandler(MessageHandler handler) { messageHandler_ = std::move(handler); }

  private:
    frmMain& window_;  // Not owned.
    MessageHandler messageHandler_;
    int busyDepth_ = 0;
};

}  // namespace kesmark::ui
