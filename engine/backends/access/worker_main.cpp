// kesmark-mdb-worker: the Access reader process. Kesmark starts it for every
// Access file it opens and talks to it over its standard input and output;
// it is not meant to be run by hand.
//
//   kesmark-mdb-worker --serve PARENT_PID MEMORY_MB CPU_SECONDS
//
// libmdb cannot be trusted with a damaged file (it may loop, crash or
// allocate without end), so it runs here, alone, under resource limits: an
// address-space limit of MEMORY_MB, CPU_SECONDS of processor time per
// request, no file writes and no core dumps. libmdb prints to standard output
// on some damaged files, so the protocol keeps a private copy of the output
// channel and standard output goes to /dev/null. The process ends when its
// input ends, and with its parent.
//
// Exit status: 0 input ended, 2 bad usage, 3 out of memory, 4 protocol error.

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/backends/access/wire_format.h"
#include "engine/backends/access/worker_session.h"

#if defined(__SANITIZE_ADDRESS__)
#define KESMARK_WORKER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESMARK_WORKER_SANITIZED 1
#endif
#endif

namespace {

using namespace kesmark::access;

constexpr int kExitUsage = 2;
constexpr int kExitOutOfMemory = 3;
constexpr int kExitProtocol = 4;

int gOutput = -1;  // private copy of the protocol's output channel

bool ReadAll(int fd, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) {
            n = ::write(fd, p, size);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SendFrame(const std::string& body) {
    const std::string frame = FrameHeader(static_cast<std::uint32_t>(body.size())) + body;
    return WriteAll(gOutput, frame.data(), frame.size());
}

void SetLimit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    setrlimit(resource, &limit);
}

// Allows `seconds` more of processor time from now on.
void GrantProcessorTime(unsigned seconds) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const rlim_t used = static_cast<rlim_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1;
    SetLimit(RLIMIT_CPU, used + seconds, RLIM_INFINITY);
}

[[noreturn]] void Hang() {
    for (;;) {
        pause();
    }
}

Reply SelfTest(SelfTestMode mode) {
    Reply reply;
    switch (mode) {
        case SelfTestMode::kHang:
            Hang();
        case SelfTestMode::kSpin: {
            volatile unsigned long counter = 0;
            for (;;) {
                counter = counter + 1;
            }
        }
        case SelfTestMode::kCrash:
            raise(SIGSEGV);
            Hang();
        case SelfTestMode::kExhaustMemory: {
#ifdef KESMARK_WORKER_SANITIZED
            reply.kind = ReplyKind::kError;
            reply.error = WireError{0, "no memory limit in a sanitizer build"};
            return reply;
#else
            std::vector<std::unique_ptr<char[]> > blocks;
            for (;;) {
                blocks.emplace_back(new char[64u << 20]);
                std::memset(blocks.back().get(), 1, 64u << 20);
            }
#endif
        }
        case SelfTestMode::kExhaustLibraryMemory: {
#ifdef KESMARK_WORKER_SANITIZED
            reply.kind = ReplyKind::kError;
            reply.error = WireError{0, "no memory limit in a sanitizer build"};
            return reply;
#else
            for (;;) {
                std::memset(g_malloc(64u << 20), 1, 64u << 20);
            }
#endif
        }
        case SelfTestMode::kWriteFile: {
            const int fd = ::open("/tmp", O_TMPFILE | O_WRONLY, 0600);
            if (fd >= 0) {
                const char byte = 'x';
                [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
                ::close(fd);
            }
            reply.text = "written";
            return reply;
        }
        case SelfTestMode::kNoiseOnStdout: {
            std::printf("noise that must not reach the protocol\n");
            std::fflush(stdout);
            [[maybe_unused]] const auto n = ::write(STDOUT_FILENO, "more noise\n", 11);
            reply.text = "quiet";
            return reply;
        }
        case SelfTestMode::kMalformedReply:
            SendFrame(std::string("\xEE garbage", 9));
            Hang();
        case SelfTestMode::kOversizedReply: {
            const std::string header = FrameHeader(kMaxReplyBytes + 1);
            WriteAll(gOutput, header.data(), header.size());
            Hang();
        }
    }
    reply.kind = ReplyKind::kError;
    reply.error = WireError{0, "unknown self test"};
    return reply;
}

int Serve(unsigned cpuSeconds) {
    WorkerSession session;
    session.SetSelfTestHandler(SelfTest);
    for (;;) {
        unsigned char header[4];
        if (!ReadAll(STDIN_FILENO, header, sizeof header)) {
            return 0;  // Kesmark closed the channel: done
        }
        const std::uint32_t length = FrameLength(header);
        if (length > kMaxRequestBytes) {
            return kExitProtocol;
        }
        std::string body(length, '\0');
        if (!ReadAll(STDIN_FILENO, body.data(), body.size())) {
            return kExitProtocol;
        }
        GrantProcessorTime(cpuSeconds);
        if (!SendFrame(session.Handle(body))) {
            return 0;  // Kesmark is gone
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || std::string(argv[1]) != "--serve") {
        std::fprintf(stderr,
                     "kesmark-mdb-worker is Kesmark's Access reader; Kesmark starts it itself.\n");
        return kExitUsage;
    }
    const long parent = std::strtol(argv[2], nullptr, 10);
    const unsigned long memoryMegabytes = std::strtoul(argv[3], nullptr, 10);
    const unsigned long cpuSeconds = std::strtoul(argv[4], nullptr, 10);

    // End with the parent, and only serve the parent that started us.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != static_cast<pid_t>(parent)) {
        return 0;
    }
    // A Ctrl+C in the terminal is the parent's to handle (it cancels the
    // comparison); the reader must not die of it.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    // The protocol keeps its own copy of the output channel; whatever else
    // writes to standard output (libmdb's dumps) goes to /dev/null.
    gOutput = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (gOutput < 0 || devNull < 0 || dup2(devNull, STDOUT_FILENO) < 0) {
        return kExitUsage;
    }
    ::close(devNull);

    // libmdb searches MDBPATH for files it cannot find (and loops on an empty
    // component of it); the other variables switch on its debug output.
    for (const char* name : {"MDBPATH", "MDBOPTS", "MDB_JET3_CHARSET", "MDBICONV"}) {
        unsetenv(name);
    }

    SetLimit(RLIMIT_CORE, 0, 0);
    SetLimit(RLIMIT_FSIZE, 0, 0);
#ifndef KESMARK_WORKER_SANITIZED
    // A sanitizer reserves terabytes of address space for itself; there the
    // processor-time limit and the parent's watchdog have to do.
    const rlim_t bytes = static_cast<rlim_t>(memoryMegabytes) << 20;
    SetLimit(RLIMIT_AS, bytes, bytes);
#else
    (void)memoryMegabytes;
#endif

    try {
        return Serve(static_cast<unsigned>(cpuSeconds));
    } catch (const std::bad_alloc&) {
        _exit(kExitOutOfMemory);
    }
}
