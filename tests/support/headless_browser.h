#pragma once

// A real browser for the tests of HTML pages: Debian's chromium, headless,
// driven through its DevTools protocol over a pipe (--remote-debugging-pipe,
// NUL-separated JSON messages on descriptors 3 and 4), so that a test can
// open a page, click on it as a user would and read its DOM.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace kesmark::test {

class HeadlessBrowser {
  public:
    // The browser's program, or nullopt when none is installed.
    static std::optional<std::filesystem::path> Find();

    // Starts the browser with a fresh profile in a temporary folder. Throws
    // std::runtime_error when it cannot be started.
    explicit HeadlessBrowser(const std::filesystem::path& program);
    // Closes the browser and waits for it (killing it after a few seconds).
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    // Opens `file` in a new page and waits until it has loaded. Throws
    // std::runtime_error on a failure or after 30 seconds.
    void Open(const std::filesystem::path& file);

    // The value of a JavaScript expression in the page (a promise is
    // awaited), as JSON. Throws std::runtime_error with the page's message
    // when the expression throws.
    nlohmann::json Evaluate(const std::string& expression);

    // Clicks with the mouse, as a user would, in the middle of the first
    // element `selector` finds (scrolled into view first). Throws
    // std::runtime_error when there is no such element or it has no box.
    void Click(const std::string& selector);

  private:
    nlohmann::json Call(const std::string& method, const nlohmann::json& params,
                        bool inPage = true);
    void Send(const nlohmann::json& message);
    nlohmann::json Receive(int id);

    TempDir profile_;
    pid_t pid_ = -1;
    int toBrowser_ = -1;
    int fromBrowser_ = -1;
    std::string pending_;  // bytes read past the last whole message
    int nextId_ = 1;
    std::string sessionId_;
};

}  // namespace kesmark::test
