#pragma once

// Kesmark's side of the Access reader process (kesmark-mdb-worker): starts
// it, sends it requests and watches it. A reader that dies, exceeds its
// limits, stops answering or answers nonsense becomes a DbError that names
// the file, what was being read and why; the reader is then gone.

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/backends/access/wire_format.h"
#include "engine/model/db_error.h"

namespace kesmark::access {

inline constexpr const char* kSource = "Access";

struct WorkerOptions {
    // The reader program; empty: DefaultWorkerProgram().
    std::string program;
    // Longest wait for one answer.
    std::chrono::milliseconds timeout{30000};
    // Processor time the reader may use for one request.
    unsigned cpuSeconds = 20;
    // Address space the reader may use.
    unsigned memoryMegabytes = 1024;
};

// The reader program: beside the running program (a build tree), else in
// the installation's libexec/kesmark/ folder.
std::string DefaultWorkerProgram();

class WorkerClient {
  public:
    // Starts a reader for the file named `fileLabel` (used in messages).
    // Throws DbError when the reader cannot be started.
    WorkerClient(std::string fileLabel, WorkerOptions options);
    // Ends the reader (see Close).
    ~WorkerClient();
    WorkerClient(const WorkerClient&) = delete;
    WorkerClient& operator=(const WorkerClient&) = delete;

    // Sends one request and waits for its reply. `what` says what is being
    // read ("the schema"), for messages. A kError reply is returned, not
    // thrown. Throws DbError when the reader fails (it is then ended, and
    // every later call throws the same error).
    Reply Call(const Request& request, std::string_view what);

    // Ends the reader: closes its input and waits briefly for it to leave,
    // then kills it. Idempotent, never throws.
    void Close() noexcept;

    pid_t Pid() const { return pid_; }

  private:
    [[noreturn]] void Fail(std::string_view what, const std::string& why, bool killFirst);
    std::string WhyItEnded(int status) const;
    void DrainErrorOutput();
    bool WaitForExit(std::chrono::milliseconds limit, int& status) noexcept;

    std::string fileLabel_;
    WorkerOptions options_;
    pid_t pid_ = -1;
    int channel_ = -1;       // socket: requests out, replies in
    int errorOutput_ = -1;   // the reader's standard error
    std::string errorTail_;  // its last few kilobytes
    std::optional<DbError> failure_;
    std::mutex mutex_;
};

}  // namespace kesmark::access
