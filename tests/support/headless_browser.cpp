#include "tests/support/headless_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kesmark::test {

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr auto kTimeout = std::chrono::seconds(30);

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

std::optional<std::filesystem::path> HeadlessBrowser::Find() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (::access(candidate, X_OK) == 0) {
            return std::filesystem::path(candidate);
        }
    }
    return std::nullopt;
}

HeadlessBrowser::HeadlessBrowser(const std::filesystem::path& program) {
    int toPipe[2];
    int fromPipe[2];
    if (::pipe2(toPipe, O_CLOEXEC) != 0 || ::pipe2(fromPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make the pipes to the browser");
    }
    const std::string profile = "--user-data-dir=" + profile_.Path().string();
    std::vector<std::string> args = {program.string(),
                                     "--headless",
                                     "--remote-debugging-pipe",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--disable-extensions",
                                     "--disable-dev-shm-usage",
                                     "--no-first-run",
                                     "--no-default-browser-check",
                                     "--window-size=1200,900",
                                     profile,
                                     "about:blank"};
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("cannot start the browser");
    }
    if (pid_ == 0) {
        // The browser reads commands on 3 and writes answers on 4. Move the
        // pipe ends above 4 first so that the dup2 calls cannot clobber them.
        const int in = ::fcntl(toPipe[0], F_DUPFD_CLOEXEC, 10);
        const int out = ::fcntl(fromPipe[1], F_DUPFD_CLOEXEC, 10);
        ::dup2(in, 3);
        ::dup2(out, 4);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(toPipe[0]);
    ::close(fromPipe[1]);
    toBrowser_ = toPipe[1];
    fromBrowser_ = fromPipe[0];
}

HeadlessBrowser::~HeadlessBrowser() {
    if (pid_ > 0) {
        try {
            Send({{"id", nextId_++}, {"method", "Browser.close"}, {"params", Json::object()}});
        } catch (const std::exception&) {
            // The browser is gone already; it is waited for below.
        }
        CloseFd(toBrowser_);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    CloseFd(toBrowser_);
    CloseFd(fromBrowser_);
}

void HeadlessBrowser::Send(const Json& message) {
    std::string text = message.dump();
    text.push_back('\0');
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(toBrowser_, text.data() + written, text.size() - written);
        if (n <= 0) {
            throw std::runtime_error("the browser stopped reading");
        }
        written += static_cast<std::size_t>(n);
    }
}

Json HeadlessBrowser::Receive(int id) {
    const auto deadline = Clock::now() + kTimeout;
    while (true) {
        for (std::size_t end; (end = pending_.find('\0')) != std::string::npos;) {
            Json message = Json::parse(pending_.substr(0, end));
            pending_.erase(0, end + 1);
            if (message.contains("id") && message["id"] == id) {
                if (message.contains("error")) {
                    throw std::runtime_error("browser: " + message["error"].dump());
                }
                return message["result"];
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            throw std::runtime_error("the browser did not answer in time");
        }
        pollfd readable{fromBrowser_, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t n = ::read(fromBrowser_, buffer, sizeof buffer);
        if (n <= 0) {
            throw std::runtime_error("the browser closed its pipe");
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

Json HeadlessBrowser::Call(const std::string& method, const Json& params, bool inPage) {
    const int id = nextId_++;
    Json message{{"id", id}, {"method", method}, {"params", params}};
    if (inPage) {
        message["sessionId"] = sessionId_;
    }
    Send(message);
    return Receive(id);
}

void HeadlessBrowser::Open(const std::filesystem::path& file) {
    const std::string url = "file://" + std::filesystem::absolute(file).string();
    const Json target = Call("Target.createTarget", {{"url", url}}, false);
    const Json attached =
        Call("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}}, false);
    sessionId_ = attached["sessionId"].get<std::string>();
    const auto deadline = Clock::now() + kTimeout;
    while (Evaluate("document.readyState === 'complete' && location.protocol === 'file:'") !=
           true) {
        if (Clock::now() > deadline) {
            throw std::runtime_error("the page did not load in time: " + url);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

Json HeadlessBrowser::Evaluate(const std::string& expression) {
    const Json result =
        Call("Runtime.evaluate",
             {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
    if (result.contains("exceptionDetails")) {
        throw std::runtime_error("page: " + result["exceptionDetails"].dump());
    }
    const Json& value = result["result"];
    return value.contains("value") ? value["value"] : Json(nullptr);
}

void HeadlessBrowser::Click(const std::string& selector) {
    const Json box = Evaluate("(() => { const e = document.querySelector(" + Json(selector).dump() +
                              "); if (!e) return null; e.scrollIntoView({block: 'center'});"
                              " const r = e.getBoundingClientRect();"
                              " return r.width > 0 ? {x: r.left + r.width / 2,"
                              " y: r.top + r.height / 2} : null; })()");
    if (box.is_null()) {
        throw std::runtime_error("nothing to click at " + selector);
    }
    for (const char* type : {"mousePressed", "mouseReleased"}) {
        Call("Input.dispatchMouseEvent", {{"type", type},
                                          {"x", box["x"]},
                                          {"y", box["y"]},
                                          {"button", "left"},
                                          {"clickCount", 1}});
    }
}

}  // namespace kesmark::test
