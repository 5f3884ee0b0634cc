// Reads the long values of one field through FieldSize and GetChunk, the
// way a caller that never holds a whole value reads them, and prints what it
// read. bench/odbc-bench.sh runs it under /usr/bin/time to see the peak
// memory of reading a value of hundreds of megabytes.
//
//   long_value_reader DATABASE CONNECT TABLE FIELD [CHUNK_BYTES]
//
// Prints one line per record: "record N: size S, read R bytes, fnv1a H".
// Exit status 0 when every record's bytes add up to its FieldSize, 1 when
// not, 2 on an error.

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/open_database.h"

namespace {

constexpr std::uint64_t kFnvOffset = 14695981039346656037ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s DATABASE CONNECT TABLE FIELD [CHUNK_BYTES]\n", argv[0]);
        return 2;
    }
    const std::size_t chunk = argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 65536;
    try {
        auto db = kesmark::OpenDatabase(argv[1], argv[2]);
        auto recordset = db->OpenRecordset(argv[3], {argv[4]});
        kesmark::RecordsetField& field = recordset->Field(0);
        bool complete = true;
        for (std::int64_t record = 1; !recordset->IsEof(); ++record) {
            const std::int64_t size = field.FieldSize();
            std::int64_t read = 0;
            std::uint64_t hash = kFnvOffset;
            for (;;) {
                const kesmark::Bytes piece = field.GetChunk(read, chunk);
                if (piece.empty()) {
                    break;
                }
                for (const std::uint8_t byte : piece) {
                    hash = (hash ^ byte) * kFnvPrime;
                }
                read += static_cast<std::int64_t>(piece.size());
            }
            std::printf("record %" PRId64 ": size %" PRId64 ", read %" PRId64
                        " bytes, fnv1a %016" PRIx64 "\n",
                        record, size, read, hash);
            complete = complete && read == size;
            recordset->MoveNext();
        }
        return complete ? 0 : 1;
    } catch (const kesmark::DbError& e) {
        std::fprintf(stderr, "%s: %s\n", e.Source().c_str(), e.Description().c_str());
        return 2;
    }
}
