#include "engine/backends/access/worker_session.h"

// libmdb's header needs glib and iconv first.
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "engine/backends/access/access_records.h"
#include "engine/backends/access/access_schema.h"
#include "engine/backends/access/jet_file.h"

namespace kesmark::access {

namespace {

Reply ErrorReply(long number, std::string description) {
    Reply reply;
    reply.kind = ReplyKind::kError;
    reply.error = WireError{number, std::move(description)};
    return reply;
}

}  // namespace

// Pages through libmdb, which undoes Jet's page encoding where a file uses
// it. libmdb's own page buffer is copied out at once.
class MdbPageSource : public PageSource {
  public:
    explicit MdbPageSource(MdbHandle* mdb) : mdb_(mdb) {}

    std::uint32_t PageCount(std::uint32_t pageSize) override {
        FILE* stream = mdb_->f->stream;
        if (fseeko(stream, 0, SEEK_END) != 0) {
            return 0;
        }
        const off_t size = ftello(stream);
        if (size < 0) {
            return 0;
        }
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(size) / pageSize, 0xFFFFFFFFu));
    }

    bool ReadPage(std::uint32_t number, std::span<std::uint8_t> out) override {
        if (out.size() > static_cast<std::size_t>(mdb_->fmt->pg_size) ||
            mdb_read_pg(mdb_, number) != mdb_->fmt->pg_size) {
            return false;
        }
        std::memcpy(out.data(), mdb_->pg_buf, out.size());
        return true;
    }

  private:
    MdbHandle* mdb_;  // Not owned.
};

void WorkerSession::MdbCloser::operator()(void* handle) const noexcept {
    mdb_close(static_cast<MdbHandle*>(handle));
}

WorkerSession::WorkerSession() = default;
WorkerSession::~WorkerSession() {
    CloseFile();
}

void WorkerSession::CloseFile() {
    resume_ = RowResume{};
    schema_.reset();
    file_.reset();
    source_.reset();
    mdb_.reset();
    image_.clear();
}

std::string WorkerSession::Handle(std::string_view requestBody) {
    Reply reply;
    try {
        reply = Handle(DecodeRequest(requestBody));
    } catch (const WireFormatError& e) {
        reply = ErrorReply(errors::kInvalidArgument,
                           std::string("The request is malformed: ") + e.what());
    }
    return EncodeReply(reply);
}

Reply WorkerSession::Handle(const Request& request) {
    try {
        switch (request.kind) {
            case RequestKind::kOpenFile:
                return OpenFile(request.path);
            case RequestKind::kOpenImage:
                return OpenImage(request.image);
            case RequestKind::kReadSchema:
                return ReadSchema();
            case RequestKind::kReadOutline:
                return ReadOutline();
            case RequestKind::kReadMember:
                return ReadMember(request.collection, request.member);
            case RequestKind::kReadRows:
                if (!file_) {
                    return ErrorReply(errors::kInvalidArgument, "No file is open.");
                }
                return ReadRows(*file_, request, resume_);
            case RequestKind::kReadChunk:
                if (!file_) {
                    return ErrorReply(errors::kInvalidArgument, "No file is open.");
                }
                return ReadChunk(*file_, request);
            case RequestKind::kSelfTest:
                if (!selfTest_) {
                    return ErrorReply(errors::kInvalidArgument,
                                      "Self tests are not available here.");
                }
                return selfTest_(request.mode);
        }
        return ErrorReply(errors::kInvalidArgument, "Unknown request.");
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const FormatError& e) {
        return ErrorReply(e.Number(), e.what());
    } catch (const std::exception& e) {
        return ErrorReply(errors::kDamaged, std::string("The file cannot be read: ") + e.what());
    }
}

Reply WorkerSession::OpenFile(const std::string& path) {
    CloseFile();
    // Our own check of the header first, for a clear message about files
    // that are not Jet or ACE databases, before libmdb sees them.
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return ErrorReply(errors::kCannotOpen,
                          "Could not read file '" + path + "': " + std::strerror(errno) + ".");
    }
    std::vector<std::uint8_t> first(2048);
    in.read(reinterpret_cast<char*>(first.data()), static_cast<std::streamsize>(first.size()));
    first.resize(static_cast<std::size_t>(in.gcount()));
    in.close();
    ParseHeader(first);

    mdb_.reset(mdb_open(path.c_str(), MDB_NOFLAGS));
    if (!mdb_) {
        return ErrorReply(errors::kUnrecognizedFormat,
                          "The Access library cannot open the file (its first page is unreadable "
                          "or of an unknown version).");
    }
    source_ = std::make_unique<MdbPageSource>(static_cast<MdbHandle*>(mdb_.get()));
    file_ = std::make_unique<JetFile>(*source_);
    Reply reply;
    reply.text = file_->Header().FormatName();
    return reply;
}

Reply WorkerSession::OpenImage(std::vector<std::uint8_t> image) {
    CloseFile();
    ParseHeader(image);
    image_ = std::move(image);
    mdb_.reset(mdb_open_buffer(image_.data(), image_.size(), MDB_NOFLAGS));
    if (!mdb_) {
        return ErrorReply(errors::kUnrecognizedFormat, "The Access library cannot open the image.");
    }
    source_ = std::make_unique<MdbPageSource>(static_cast<MdbHandle*>(mdb_.get()));
    file_ = std::make_unique<JetFile>(*source_);
    Reply reply;
    reply.text = file_->Header().FormatName();
    return reply;
}

Reply WorkerSession::ReadSchema() {
    if (!file_) {
        return ErrorReply(errors::kInvalidArgument, "No file is open.");
    }
    Reply reply;
    reply.kind = ReplyKind::kSchema;
    reply.schema = Schema();
    return reply;
}

const WireNode& WorkerSession::Schema() {
    if (!schema_) {
        schema_ = access::ReadSchema(*file_);
    }
    return *schema_;
}

Reply WorkerSession::ReadOutline() {
    if (!file_) {
        return ErrorReply(errors::kInvalidArgument, "No file is open.");
    }
    const WireNode& schema = Schema();
    Reply reply;
    reply.kind = ReplyKind::kSchema;
    reply.schema.name = schema.name;
    reply.schema.properties = schema.properties;
    reply.schema.propertiesFailure = schema.propertiesFailure;
    for (const WireCollection& collection : schema.collections) {
        WireCollection& outline = reply.schema.collections.emplace_back();
        outline.name = collection.name;
        outline.failure = collection.failure;
        for (const WireNode& member : collection.members) {
            outline.members.emplace_back().name = member.name;
        }
    }
    return reply;
}

Reply WorkerSession::ReadMember(const std::string& collection, std::uint32_t member) {
    if (!file_) {
        return ErrorReply(errors::kInvalidArgument, "No file is open.");
    }
    for (const WireCollection& candidate : Schema().collections) {
        if (candidate.name == collection && member < candidate.members.size()) {
            Reply reply;
            reply.kind = ReplyKind::kSchema;
            reply.schema = candidate.members[member];
            return reply;
        }
    }
    return ErrorReply(errors::kItemNotFound, "Item not found in this collection.");
}

}  // namespace kesmark::access
