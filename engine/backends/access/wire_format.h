#pragma once

// The messages between Kesmark and its Access reader process, and their
// encoding. Both sides link this file; every decoder checks every length and
// count against the bytes that are really there, so a damaged or hostile
// message becomes a WireFormatError, never an out-of-bounds read or a huge
// allocation.
//
// A message travels as one frame: a 4-byte little-endian length, then that
// many bytes of body. A body begins with one byte that names the message.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/value.h"

namespace kesmark::access {

// A message that does not follow the encoding below.
class WireFormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Largest frame body either side accepts. A request may carry a whole file
// image (kOpenImage); replies carry at most a schema, a batch of rows or one
// piece of a long value.
inline constexpr std::uint32_t kMaxRequestBytes = 256u << 20;
inline constexpr std::uint32_t kMaxReplyBytes = 64u << 20;

enum class RequestKind : std::uint8_t {
    kOpenFile = 1,    // path: open that file read-only
    kOpenImage = 2,   // image: open these bytes as a file (fuzzing and tests)
    kReadSchema = 3,  // the whole object model of the open file
    kSelfTest = 4,    // misbehave on purpose (SelfTestMode), to prove the watchdog
    kReadRows = 5,    // table, fields, firstRow, maxRows: rows in the table's stored order
    kReadChunk = 6,   // longValue, offset, count: a piece of a long binary value
    // The database's properties and, for each collection of the database,
    // its failure or its members' names (members without properties).
    kReadOutline = 7,
    kReadMember = 8,  // collection, member: one member of a collection of the database, whole
};

// Most rows and most bytes of values one kRows reply carries.
inline constexpr std::uint32_t kMaxRowsPerReply = 4096;
inline constexpr std::size_t kRowsReplyBudget = 4u << 20;
// Largest piece of a long value one kChunk reply carries.
inline constexpr std::uint32_t kMaxChunkBytes = 1u << 20;
// Size of the stored reference to a long value (its header in the row).
inline constexpr std::size_t kLongValueHeaderBytes = 12;

// What a kSelfTest request makes the reader do.
enum class SelfTestMode : std::uint8_t {
    kHang = 1,                  // sleep without answering
    kSpin = 2,                  // burn processor time without answering
    kCrash = 3,                 // die from a segmentation fault
    kExhaustMemory = 4,         // allocate until the address space is used up
    kWriteFile = 5,             // try to write a file
    kNoiseOnStdout = 6,         // print to standard output, then answer normally
    kMalformedReply = 7,        // answer with a frame that is not a valid reply
    kOversizedReply = 8,        // announce a frame larger than kMaxReplyBytes
    kExhaustLibraryMemory = 9,  // allocate through glib until it gives up
};

enum class ReplyKind : std::uint8_t {
    kOk = 1,      // the request was done; for an open, the file's format
    kError = 2,   // the request failed: number and description
    kSchema = 3,  // the object model
    kRows = 4,    // rows of a table and whether the table ends after them
    kChunk = 5,   // a piece of a long value
};

// A failure as it crosses the pipe: a DAO-style number and a description.
struct WireError {
    long number = 0;
    std::string description;

    friend bool operator==(const WireError&, const WireError&) = default;
};

// One property: name, DAO type code, and either a value or the reason why
// the value cannot be read.
struct WireProperty {
    std::string name;
    int type = 0;
    Value value;
    std::optional<WireError> failure;

    friend bool operator==(const WireProperty&, const WireProperty&) = default;
};

struct WireCollection;

// One object of the model with its properties and child collections. A
// collection or a property set that cannot be read carries its failure.
struct WireNode {
    std::string name;
    std::vector<WireProperty> properties;
    std::optional<WireError> propertiesFailure;
    std::vector<WireCollection> collections;

    friend bool operator==(const WireNode&, const WireNode&) = default;
};

struct WireCollection {
    std::string name;
    std::vector<WireNode> members;
    std::optional<WireError> failure;

    friend bool operator==(const WireCollection&, const WireCollection&) = default;
};

// One value of one row. Long binary values that do not lie inside their row
// travel as their size and stored reference; the bytes follow piece by piece
// (kReadChunk). Everything else travels whole.
struct WireCell {
    Value value;
    bool isLongReference = false;
    std::int64_t longSize = 0;
    std::vector<std::uint8_t> longValue;  // kLongValueHeaderBytes: the reference

    friend bool operator==(const WireCell&, const WireCell&) = default;
};

struct Request {
    RequestKind kind = RequestKind::kReadSchema;
    std::string path;                 // kOpenFile
    std::vector<std::uint8_t> image;  // kOpenImage
    SelfTestMode mode = SelfTestMode::kHang;
    std::string table;                    // kReadRows
    std::vector<std::string> fields;      // kReadRows
    std::uint64_t firstRow = 0;           // kReadRows: rows to pass over first
    std::uint32_t maxRows = 0;            // kReadRows, at most kMaxRowsPerReply
    std::vector<std::uint8_t> longValue;  // kReadChunk: a WireCell's reference
    std::uint64_t offset = 0;             // kReadChunk
    std::uint32_t count = 0;              // kReadChunk, at most kMaxChunkBytes
    std::string collection;               // kReadMember: "TableDefs", ...
    std::uint32_t member = 0;             // kReadMember: its position in the collection
};

struct Reply {
    ReplyKind kind = ReplyKind::kOk;
    std::string text;                         // kOk: the file's format, such as "Jet 3"
    WireError error;                          // kError
    WireNode schema;                          // kSchema: the database, its outline or a member
    std::vector<std::vector<WireCell>> rows;  // kRows: one cell per field asked for
    bool tableEnds = false;                   // kRows: no rows follow these
    std::vector<std::uint8_t> chunk;          // kChunk
};

// Frame bodies. Encoders never fail; decoders throw WireFormatError.
std::string EncodeRequest(const Request& request);
Request DecodeRequest(std::string_view body);
std::string EncodeReply(const Reply& reply);
Reply DecodeReply(std::string_view body);

// The 4-byte length header of a frame whose body has `size` bytes.
std::string FrameHeader(std::uint32_t size);
// The body length announced by a 4-byte frame header.
std::uint32_t FrameLength(const unsigned char header[4]);

}  // namespace kesmark::access
