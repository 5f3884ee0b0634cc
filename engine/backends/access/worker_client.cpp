#include "engine/backends/access/worker_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "engine/model/program_folder.h"

extern char** environ;

namespace kesmark::access {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kErrorTailBytes = 8192;
constexpr int kExitOutOfMemory = 3;
constexpr int kExitProtocol = 4;

std::string Describe(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    if (ms % 1000 == 0) {
        return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
    }
    return std::to_string(ms) + " ms";
}

std::string SignalName(int signal) {
    const char* abbreviation = sigabbrev_np(signal);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

class FileActions {
  public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
  public:
    SpawnAttributes() { posix_spawnattr_init(&attributes_); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* Get() { return &attributes_; }

  private:
    posix_spawnattr_t attributes_;
};

// A file descriptor closed when its owner goes.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

}  // namespace

std::string DefaultWorkerProgram() {
    return FindBesideOrInstalled("kesmark-mdb-worker", kLibexecFromProgram).string();
}

WorkerClient::WorkerClient(std::string fileLabel, WorkerOptions options)
    : fileLabel_(std::move(fileLabel)), options_(std::move(options)) {
    const std::string program =
        options_.program.empty() ? DefaultWorkerProgram() : options_.program;
    const auto cannotStart = [&](const std::string& why) {
        return DbError(errors::kDamaged,
                       "Kesmark's Access reader '" + program + "' cannot be started: " + why + ".",
                       kSource);
    };
    if (::access(program.c_str(), X_OK) != 0) {
        throw cannotStart(std::strerror(errno));
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        throw cannotStart(std::strerror(errno));
    }
    Descriptor ours(pair[0]);
    Descriptor theirs(pair[1]);
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        throw cannotStart(std::strerror(errno));
    }
    Descriptor errorRead(errorPipe[0]);
    Descriptor errorWrite(errorPipe[1]);

    FileActions actions;
    posix_spawn_file_actions_adddup2(actions.Get(), theirs.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(actions.Get(), theirs.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.Get(), errorWrite.Get(), STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(actions.Get(), 3);
    SpawnAttributes attributes;
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(attributes.Get(), &none);
    posix_spawnattr_setsigdefault(attributes.Get(), &all);
    posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args{program, "--serve", std::to_string(::getpid()),
                                  std::to_string(options_.memoryMegabytes),
                                  std::to_string(options_.cpuSeconds)};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, program.c_str(), actions.Get(), attributes.Get(),
                                 argv.data(), environ);
    if (rc != 0) {
        pid_ = -1;
        throw cannotStart(std::strerror(rc));
    }
    channel_ = ours.Release();
    errorOutput_ = errorRead.Release();
    ::fcntl(errorOutput_, F_SETFL, ::fcntl(errorOutput_, F_GETFL) | O_NONBLOCK);
}

WorkerClient::~WorkerClient() {
    Close();
}

void WorkerClient::DrainErrorOutput() {
    if (errorOutput_ < 0) {
        return;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(errorOutput_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                ::close(errorOutput_);
                errorOutput_ = -1;
            }
            return;
        }
        errorTail_.append(buffer, static_cast<std::size_t>(n));
        if (errorTail_.size() > kErrorTailBytes) {
            errorTail_.erase(0, errorTail_.size() - kErrorTailBytes);
        }
    }
}

bool WorkerClient::WaitForExit(std::chrono::milliseconds limit, int& status) noexcept {
    const auto until = Clock::now() + limit;
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) {
            return true;
        }
        if (Clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string WorkerClient::WhyItEnded(int status) const {
    // A reader built with a sanitizer reports a crash itself and exits.
    const auto report = errorTail_.find("ERROR: AddressSanitizer: ");
    if (report != std::string::npos) {
        const auto start = report + 25;
        const auto end = errorTail_.find_first_of("\n(", start);
        return "crashed (AddressSanitizer: " +
               errorTail_.substr(start, end == std::string::npos ? end : end - start) + ")";
    }
    const std::string memory =
        "ran out of memory (limit " + std::to_string(options_.memoryMegabytes) + " MB)";
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
            case kExitOutOfMemory:
                return memory;
            case kExitProtocol:
                return "rejected a request it could not understand";
            case 0:
                return "stopped without answering";
            default:
                return "stopped unexpectedly (exit status " + std::to_string(WEXITSTATUS(status)) +
                       ")";
        }
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const bool allocationFailed = errorTail_.find("failed to allocate") != std::string::npos ||
                                      errorTail_.find("out of memory") != std::string::npos;
        if (signal == SIGXCPU) {
            return "used up its processor time (limit " + std::to_string(options_.cpuSeconds) +
                   " seconds per request)";
        }
        if (signal == SIGXFSZ) {
            return "tried to write to a file and was stopped";
        }
        if ((signal == SIGABRT || signal == SIGTRAP) && allocationFailed) {
            return memory;
        }
        if (signal == SIGKILL) {
            return "was killed (SIGKILL), possibly by the system for lack of memory";
        }
        return "crashed (" + SignalName(signal) + ")";
    }
    return "ended for an unknown reason";
}

void WorkerClient::Fail(std::string_view what, const std::string& why, bool killFirst) {
    std::string reason = why;
    if (pid_ > 0) {
        int status = 0;
        if (killFirst) {
            ::kill(pid_, SIGKILL);
            WaitForExit(std::chrono::milliseconds(5000), status);
        } else {
            if (!WaitForExit(std::chrono::milliseconds(2000), status)) {
                ::kill(pid_, SIGKILL);
                WaitForExit(std::chrono::milliseconds(5000), status);
            }
            DrainErrorOutput();
            reason = WhyItEnded(status);
        }
        pid_ = -1;
    }
    if (channel_ >= 0) {
        ::close(channel_);
        channel_ = -1;
    }
    if (errorOutput_ >= 0) {
        ::close(errorOutput_);
        errorOutput_ = -1;
    }
    failure_ = DbError(errors::kDamaged,
                       "Reading " + std::string(what) + " of '" + fileLabel_ +
                           "' failed: the Access reader " + reason + ".",
                       kSource);
    throw *failure_;
}

Reply WorkerClient::Call(const Request& request, std::string_view what) {
    std::lock_guard lock(mutex_);
    if (failure_) {
        throw *failure_;
    }
    if (pid_ < 0) {
        throw DbError(errors::kDamaged,
                      "The Access reader of '" + fileLabel_ + "' has been closed.", kSource);
    }
    const std::string body = EncodeRequest(request);
    const std::string frame = FrameHeader(static_cast<std::uint32_t>(body.size())) + body;
    const auto deadline = Clock::now() + options_.timeout;
    const std::string timedOut = "timed out (no answer within " + Describe(options_.timeout) + ")";

    // Waits until the channel is ready for `events`, reading the reader's
    // error output meanwhile. False when the deadline has passed.
    const auto waitFor = [&](short events) {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd fds[2] = {{channel_, events, 0}, {errorOutput_, POLLIN, 0}};
            const int n = ::poll(fds, errorOutput_ >= 0 ? 2 : 1,
                                 static_cast<int>(std::min<long long>(left.count(), 1000)));
            if (n < 0 && errno != EINTR) {
                Fail(what, std::string("could not be watched: ") + std::strerror(errno), true);
            }
            if (n > 0 && errorOutput_ >= 0 && fds[1].revents != 0) {
                DrainErrorOutput();
            }
            if (n > 0 && fds[0].revents != 0) {
                return true;
            }
        }
    };

    std::size_t sent = 0;
    while (sent < frame.size()) {
        if (!waitFor(POLLOUT)) {
            Fail(what, timedOut, true);
        }
        const ssize_t n =
            ::send(channel_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (n < 0) {
            Fail(what, "", false);  // the reader is gone; WhyItEnded tells why
        }
        sent += static_cast<std::size_t>(n);
    }

    const auto receive = [&](char* into, std::size_t size) {
        std::size_t got = 0;
        while (got < size) {
            if (!waitFor(POLLIN)) {
                Fail(what, timedOut, true);
            }
            const ssize_t n = ::recv(channel_, into + got, size - got, MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
                continue;
            }
            if (n <= 0) {
                Fail(what, "", false);
            }
            got += static_cast<std::size_t>(n);
        }
    };
    unsigned char header[4];
    receive(reinterpret_cast<char*>(header), sizeof header);
    const std::uint32_t length = FrameLength(header);
    if (length > kMaxReplyBytes) {
        Fail(what,
             "announced an answer of " + std::to_string(length) + " bytes, more than the " +
                 std::to_string(kMaxReplyBytes) + " allowed",
             true);
    }
    std::string reply(length, '\0');
    receive(reply.data(), reply.size());
    try {
        return DecodeReply(reply);
    } catch (const WireFormatError& e) {
        Fail(what, std::string("sent a malformed answer (") + e.what() + ")", true);
    }
}

void WorkerClient::Close() noexcept {
    std::lock_guard lock(mutex_);
    if (channel_ >= 0) {
        ::close(channel_);
        channel_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        if (!WaitForExit(std::chrono::milliseconds(1000), status)) {
            ::kill(pid_, SIGKILL);
            WaitForExit(std::chrono::milliseconds(5000), status);
        }
        pid_ = -1;
    }
    if (errorOutput_ >= 0) {
        ::close(errorOutput_);
        errorOutput_ = -1;
    }
}

}  // namespace kesmark::access
