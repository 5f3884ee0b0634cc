#pragma once

// The request handling of the Access reader process: one session holds the
// file opened through libmdb (read-only) and answers the requests of
// wire_format.h: the schema (whole, or its outline and then one member at a
// time, so that Kesmark holds only what it compares), rows of tables and
// pieces of long values. The reader's main loop and the fuzzer both drive it.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/backends/access/access_records.h"
#include "engine/backends/access/wire_format.h"

namespace kesmark::access {

class MdbPageSource;

class WorkerSession {
  public:
    // What a kSelfTest request does; unset, such requests are refused.
    using SelfTestHandler = std::function<Reply(SelfTestMode)>;

    WorkerSession();
    ~WorkerSession();
    WorkerSession(const WorkerSession&) = delete;
    WorkerSession& operator=(const WorkerSession&) = delete;

    void SetSelfTestHandler(SelfTestHandler handler) { selfTest_ = std::move(handler); }

    // Handles one request body and returns the reply body. Every failure
    // becomes a kError reply, except running out of memory (std::bad_alloc
    // propagates: the reader then ends itself).
    std::string Handle(std::string_view requestBody);

    // The reply for a decoded request.
    Reply Handle(const Request& request);

  private:
    Reply OpenFile(const std::string& path);
    Reply OpenImage(std::vector<std::uint8_t> image);
    Reply ReadSchema();
    Reply ReadOutline();
    Reply ReadMember(const std::string& collection, std::uint32_t member);
    // The schema of the open file, read on first use and kept while it is open.
    const WireNode& Schema();
    void CloseFile();

    struct MdbCloser {
        void operator()(void* handle) const noexcept;
    };
    std::vector<std::uint8_t> image_;  // kept alive for an image opened by libmdb
    std::unique_ptr<void, MdbCloser> mdb_;
    std::unique_ptr<MdbPageSource> source_;
    std::unique_ptr<JetFile> file_;
    RowResume resume_;  // where the last batch of rows ended
    std::optional<WireNode> schema_;
    SelfTestHandler selfTest_;
};

}  // namespace kesmark::access
