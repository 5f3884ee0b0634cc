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

#include "engine/value.h"

namespace kesmark::access {

// A message that does not follow the encoding below.
class WireFormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Largest frame body either side accepts. A request may carry a whole file
// image (kOpenImage); replies carry at most a schema.
inline constexpr std::uint32_t kMaxRequestBytes = 256u << 20;
inline constexpr std::uint32_t kMaxReplyBytes = 64u << 20;

enum class RequestKind : std::uint8_t {
    kOpenFile = 1,    // path: open that file read-only
    kOpenImage = 2,   // image: open these bytes as a file (fuzzing and tests)
    kReadSchema = 3,  // the whole object model of the open file
    kSelfTest = 4,    // misbehave on purpose (SelfTestMode), to prove the watchdog
};

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

struct Request {
    RequestKind kind = RequestKind::kReadSchema;
    std::string path;                 // kOpenFile
    std::vector<std::uint8_t> image;  // kOpenImage
    SelfTestMode mode = SelfTestMode::kHang;
};

struct Reply {
    ReplyKind kind = ReplyKind::kOk;
    std::string text;  // kOk: the file's format, such as "Jet 3"
    WireError error;   // kError
    WireNode schema;   // kSchema
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
