#include "cli/cli_host.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

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

// Message texts use CR LF between lines; a terminal wants LF.
std::string ToUnixLines(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
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
    std::string line = "[" + std::to_string(progress_) + "%] " + status_;
    if (line.size() > 78) {
        line = line.substr(0, 75) + "...";
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
    std::fprintf(stderr, "%s: %s\n", std::string(caption).c_str(), ToUnixLines(text).c_str());
    std::fflush(stderr);
}

}  // namespace kesmark::cli
