#include "cli/cli_host.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "cli/terminal.h"
#include "engine/open_database.h"

namespace kesmark::cli {

namespace {

std::atomic<int> gInterrupts{0};

extern "C" void OnInterrupt(int) {
    if (gInterrupts.fetch_add(1) >= 1) {
        RemoveTemporaryFiles();
        _exit(2);
    }
}

}  // namespace

CliHost::CliHost(bool quiet) : interactive_(!quiet && ::isatty(STDERR_FILENO) == 1) {}

void CliHost::InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    // A parent may have started us with SIGINT blocked; a pending interrupt
    // is then delivered here, to the handler.
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigprocmask(SIG_UNBLOCK, &interrupts, nullptr);
}

bool CliHost::CancelRequested() const {
    return gInterrupts.load() > 0;
}

void CliHost::SetStatusText(std::string_view text) {
    status_ = std::string(text);
    DrawStatusLine();
}

void CliHost::SetProgressPosition(int position) {
    if (position != progress_) {
        progress_ = position;
        DrawStatusLine();
    }
}

void CliHost::DrawStatusLine() {
    if (!interactive_) {
        return;
    }
    // Names in the status text are made safe: none may move the cursor.
    std::string line = "[" + std::to_string(progress_) + "%] " + SafeText(status_);
    if (DisplayWidth(line) > 78) {
        std::size_t end = 0;
        for (std::size_t shown = 0; end < line.size() && shown < 75; ++shown) {
            ++end;
            while (end < line.size() && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
                ++end;
            }
        }
        line = line.substr(0, end) + "...";
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    lineDrawn_ = true;
}

void CliHost::FinishStatusLine() {
    if (lineDrawn_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        lineDrawn_ = false;
    }
}

void CliHost::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
    FinishStatusLine();
    messages_.push_back(Message{std::string(text), std::string(caption)});
    std::fprintf(stderr, "%s: %s\n", SafeText(caption).c_str(), SafeLines(text).c_str());
    std::fflush(stderr);
}

}  // namespace kesmark::cli
