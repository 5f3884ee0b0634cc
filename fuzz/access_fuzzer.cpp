// Fuzz target of the Access reader: every input is taken as a file image and
// goes through the reader's request handling exactly as in the reader process
// (open the image through libmdb, read the whole schema with its saved
// queries, read the rows of the tables it lists, to their end where the
// row count is checked, and pieces of their long values), and every reply
// is decoded as Kesmark decodes it. The same bytes are also given to the
// property-block parser and to the message decoders directly.
//
// Any failure to read must end in an error reply or an exception of our own;
// a crash, a sanitizer report, a hang or a reply that does not decode (or
// does not encode back to the same bytes) is a finding.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "engine/backends/access/jet_file.h"
#include "engine/backends/access/property_block.h"
#include "engine/backends/access/wire_format.h"
#include "engine/backends/access/worker_session.h"

namespace {

using namespace kesmark::access;

std::string Plain(std::span<const std::uint8_t> b) {
    return std::string(b.begin(), b.end());
}

// A reply the session produced must decode, and encode back unchanged.
Reply CheckedReply(const std::string& body) {
    try {
        Reply reply = DecodeReply(body);
        if (EncodeReply(reply) != body) {
            std::abort();
        }
        return reply;
    } catch (const WireFormatError&) {
        std::abort();
    }
}

// Tables whose rows one input reads, rows per request, rows per table (a
// table shorter than this is read to its end, where its row count is
// checked), long values per table.
constexpr std::size_t kTablesRead = 8;
constexpr std::uint32_t kRowsRead = 64;
constexpr std::uint64_t kRowsPerTable = 2048;
constexpr std::size_t kPiecesRead = 4;

void ReadSomeRows(WorkerSession& session, const WireNode& schema) {
    for (const auto& collection : schema.collections) {
        if (collection.name != "TableDefs") {
            continue;
        }
        std::size_t tables = 0;
        for (const auto& table : collection.members) {
            if (++tables > kTablesRead) {
                return;
            }
            Request rows;
            rows.kind = RequestKind::kReadRows;
            rows.table = table.name;
            rows.maxRows = kRowsRead;
            for (const auto& child : table.collections) {
                if (child.name == "Fields") {
                    for (const auto& field : child.members) {
                        rows.fields.push_back(field.name);
                    }
                }
            }
            std::size_t pieces = 0;
            while (rows.firstRow < kRowsPerTable) {
                const Reply reply = CheckedReply(session.Handle(EncodeRequest(rows)));
                for (const auto& row : reply.rows) {
                    for (const auto& cell : row) {
                        if (cell.isLongReference && pieces++ < kPiecesRead) {
                            Request chunk;
                            chunk.kind = RequestKind::kReadChunk;
                            chunk.longValue = cell.longValue;
                            chunk.offset = static_cast<std::uint64_t>(cell.longSize / 2);
                            chunk.count = 4096;
                            CheckedReply(session.Handle(EncodeRequest(chunk)));
                        }
                    }
                }
                if (reply.kind != ReplyKind::kRows || reply.tableEnds || reply.rows.empty()) {
                    break;
                }
                rows.firstRow += reply.rows.size();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);

    WorkerSession session;
    Request open;
    open.kind = RequestKind::kOpenImage;
    open.image.assign(input.begin(), input.end());
    if (CheckedReply(session.Handle(EncodeRequest(open))).kind == ReplyKind::kOk) {
        Request read;
        read.kind = RequestKind::kReadSchema;
        const Reply schema = CheckedReply(session.Handle(EncodeRequest(read)));
        if (schema.kind == ReplyKind::kSchema) {
            ReadSomeRows(session, schema.schema);
        }
    }

    try {
        for (const auto& map : ParsePropertyBlock(input, Plain)) {
            for (const auto& property : map.properties) {
                StoredValue(property, Plain);
            }
        }
    } catch (const FormatError&) {
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        DecodeRequest(bytes);
    } catch (const WireFormatError&) {
    }
    try {
        DecodeReply(bytes);
    } catch (const WireFormatError&) {
    }
    return 0;
}
