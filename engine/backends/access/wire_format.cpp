#include "engine/backends/access/wire_format.h"

#include <bit>
#include <cstring>
#include <type_traits>

namespace kesmark::access {

namespace {

// Deepest nesting of objects in a schema: database, table, index, field.
constexpr int kMaxDepth = 8;

enum class ValueTag : std::uint8_t {
    kNull = 0,
    kBool = 1,
    kInteger = 2,
    kDouble = 3,
    kCurrency = 4,
    kDecimal = 5,
    kText = 6,
    kDate = 7,
    kBytes = 8,
};

class Writer {
  public:
    void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    }
    void I64(std::int64_t v) {
        const auto u = static_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i) {
            out_.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
        }
    }
    void F64(double v) { I64(std::bit_cast<std::int64_t>(v)); }
    void Text(std::string_view s) {
        U32(static_cast<std::uint32_t>(s.size()));
        out_.append(s);
    }
    void Blob(const std::vector<std::uint8_t>& b) {
        U32(static_cast<std::uint32_t>(b.size()));
        out_.append(reinterpret_cast<const char*>(b.data()), b.size());
    }
    std::string Take() { return std::move(out_); }

  private:
    std::string out_;
};

class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}

    std::uint8_t U8() {
        Need(1);
        return static_cast<std::uint8_t>(in_[pos_++]);
    }
    std::uint32_t U32() {
        Need(4);
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= std::uint32_t{static_cast<std::uint8_t>(in_[pos_++])} << (8 * i);
        }
        return v;
    }
    std::int64_t I64() {
        Need(8);
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) {
            v |= std::uint64_t{static_cast<std::uint8_t>(in_[pos_++])} << (8 * i);
        }
        return static_cast<std::int64_t>(v);
    }
    double F64() { return std::bit_cast<double>(I64()); }
    std::string Text() {
        const std::uint32_t n = U32();
        Need(n);
        std::string s(in_.substr(pos_, n));
        pos_ += n;
        return s;
    }
    std::vector<std::uint8_t> Blob() {
        const std::uint32_t n = U32();
        Need(n);
        const auto* p = reinterpret_cast<const std::uint8_t*>(in_.data() + pos_);
        pos_ += n;
        return std::vector<std::uint8_t>(p, p + n);
    }
    // A count of items that each take at least `minItemBytes` bytes: a count
    // that cannot fit in what is left is refused before anything is reserved.
    std::uint32_t Count(std::size_t minItemBytes) {
        const std::uint32_t n = U32();
        if (static_cast<std::uint64_t>(n) * minItemBytes > in_.size() - pos_) {
            throw WireFormatError("a count of " + std::to_string(n) +
                                  " items does not fit in the message");
        }
        return n;
    }
    void ExpectEnd() const {
        if (pos_ != in_.size()) {
            throw WireFormatError("unexpected bytes after the end of the message");
        }
    }

  private:
    void Need(std::size_t n) const {
        if (n > in_.size() - pos_) {
            throw WireFormatError("the message ends early");
        }
    }

    std::string_view in_;
    std::size_t pos_ = 0;
};

void PutError(Writer& w, const WireError& e) {
    w.I64(e.number);
    w.Text(e.description);
}

WireError GetError(Reader& r) {
    WireError e;
    e.number = static_cast<long>(r.I64());
    e.description = r.Text();
    return e;
}

void PutOptionalError(Writer& w, const std::optional<WireError>& e) {
    w.U8(e ? 1 : 0);
    if (e) {
        PutError(w, *e);
    }
}

std::optional<WireError> GetOptionalError(Reader& r) {
    switch (r.U8()) {
        case 0:
            return std::nullopt;
        case 1:
            return GetError(r);
        default:
            throw WireFormatError("bad failure marker");
    }
}

void PutValue(Writer& w, const Value& value) {
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Null>) {
                w.U8(static_cast<std::uint8_t>(ValueTag::kNull));
            } else if constexpr (std::is_same_v<T, bool>) {
                w.U8(static_cast<std::uint8_t>(ValueTag::kBool));
                w.U8(v ? 1 : 0);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                w.U8(static_cast<std::uint8_t>(ValueTag::kInteger));
                w.I64(v);
            } else if constexpr (std::is_same_v<T, double>) {
                w.U8(static_cast<std::uint8_t>(ValueTag::kDouble));
                w.F64(v);
            } else if constexpr (std::is_same_v<T, Currency>) {
                w.U8(static_cast<std::uint8_t>(ValueTag::kCurrency));
                w.I64(v.scaled);
            } else if constexpr (std::is_same_v<T, Decimal>) {
                w.U8(static_cast<std::uint8_t>(ValueTag::kDecimal));
                w.Text(v.text);
            } else if constexpr (std::is_same_v<T, std::string>) {
                w.U8(static_cast<std::uint8_t>(ValueTag::kText));
                w.Text(v);
            } else if constexpr (std::is_same_v<T, DateTime>) {
                w.U8(static_cast<std::uint8_t>(ValueTag::kDate));
                w.F64(v.serial);
            } else {
                static_assert(std::is_same_v<T, Bytes>);
                w.U8(static_cast<std::uint8_t>(ValueTag::kBytes));
                w.Blob(v);
            }
        },
        value.Get());
}

Value GetValue(Reader& r) {
    switch (static_cast<ValueTag>(r.U8())) {
        case ValueTag::kNull:
            return Value();
        case ValueTag::kBool:
            return Value(r.U8() != 0);
        case ValueTag::kInteger:
            return Value(static_cast<long long>(r.I64()));
        case ValueTag::kDouble:
            return Value(r.F64());
        case ValueTag::kCurrency:
            return Value(Currency{r.I64()});
        case ValueTag::kDecimal:
            return Value(Decimal{r.Text()});
        case ValueTag::kText:
            return Value(r.Text());
        case ValueTag::kDate:
            return Value(DateTime{r.F64()});
        case ValueTag::kBytes:
            return Value(r.Blob());
    }
    throw WireFormatError("unknown value tag");
}

void PutNode(Writer& w, const WireNode& node);

void PutCollection(Writer& w, const WireCollection& c) {
    w.Text(c.name);
    PutOptionalError(w, c.failure);
    w.U32(static_cast<std::uint32_t>(c.members.size()));
    for (const auto& m : c.members) {
        PutNode(w, m);
    }
}

void PutNode(Writer& w, const WireNode& node) {
    w.Text(node.name);
    PutOptionalError(w, node.propertiesFailure);
    w.U32(static_cast<std::uint32_t>(node.properties.size()));
    for (const auto& p : node.properties) {
        w.Text(p.name);
        w.I64(p.type);
        PutOptionalError(w, p.failure);
        PutValue(w, p.value);
    }
    w.U32(static_cast<std::uint32_t>(node.collections.size()));
    for (const auto& c : node.collections) {
        PutCollection(w, c);
    }
}

// The smallest encodings: a node (empty name, no failure, no properties, no
// collections) takes 13 bytes, a property 14, a collection 9.
constexpr std::size_t kMinNodeBytes = 13;
constexpr std::size_t kMinPropertyBytes = 14;
constexpr std::size_t kMinCollectionBytes = 9;

WireNode GetNode(Reader& r, int depth);

WireCollection GetCollection(Reader& r, int depth) {
    WireCollection c;
    c.name = r.Text();
    c.failure = GetOptionalError(r);
    const std::uint32_t n = r.Count(kMinNodeBytes);
    c.members.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        c.members.push_back(GetNode(r, depth + 1));
    }
    return c;
}

WireNode GetNode(Reader& r, int depth) {
    if (depth > kMaxDepth) {
        throw WireFormatError("objects nested too deeply");
    }
    WireNode node;
    node.name = r.Text();
    node.propertiesFailure = GetOptionalError(r);
    const std::uint32_t np = r.Count(kMinPropertyBytes);
    node.properties.reserve(np);
    for (std::uint32_t i = 0; i < np; ++i) {
        WireProperty p;
        p.name = r.Text();
        const std::int64_t type = r.I64();
        if (type < -32768 || type > 32767) {
            throw WireFormatError("property type out of range");
        }
        p.type = static_cast<int>(type);
        p.failure = GetOptionalError(r);
        p.value = GetValue(r);
        node.properties.push_back(std::move(p));
    }
    const std::uint32_t nc = r.Count(kMinCollectionBytes);
    node.collections.reserve(nc);
    for (std::uint32_t i = 0; i < nc; ++i) {
        node.collections.push_back(GetCollection(r, depth));
    }
    return node;
}

void PutCell(Writer& w, const WireCell& cell) {
    w.U8(cell.isLongReference ? 1 : 0);
    if (cell.isLongReference) {
        w.I64(cell.longSize);
        w.Blob(cell.longValue);
    } else {
        PutValue(w, cell.value);
    }
}

WireCell GetCell(Reader& r) {
    WireCell cell;
    switch (r.U8()) {
        case 0:
            cell.value = GetValue(r);
            break;
        case 1:
            cell.isLongReference = true;
            cell.longSize = r.I64();
            cell.longValue = r.Blob();
            if (cell.longSize < 0 || cell.longValue.size() != kLongValueHeaderBytes) {
                throw WireFormatError("bad long value reference");
            }
            break;
        default:
            throw WireFormatError("bad cell marker");
    }
    return cell;
}

}  // namespace

std::string EncodeRequest(const Request& request) {
    Writer w;
    w.U8(static_cast<std::uint8_t>(request.kind));
    switch (request.kind) {
        case RequestKind::kOpenFile:
            w.Text(request.path);
            break;
        case RequestKind::kOpenImage:
            w.Blob(request.image);
            break;
        case RequestKind::kReadSchema:
        case RequestKind::kReadOutline:
            break;
        case RequestKind::kReadMember:
            w.Text(request.collection);
            w.U32(request.member);
            break;
        case RequestKind::kSelfTest:
            w.U8(static_cast<std::uint8_t>(request.mode));
            break;
        case RequestKind::kReadRows:
            w.Text(request.table);
            w.U32(static_cast<std::uint32_t>(request.fields.size()));
            for (const auto& f : request.fields) {
                w.Text(f);
            }
            w.I64(static_cast<std::int64_t>(request.firstRow));
            w.U32(request.maxRows);
            break;
        case RequestKind::kReadChunk:
            w.Blob(request.longValue);
            w.I64(static_cast<std::int64_t>(request.offset));
            w.U32(request.count);
            break;
    }
    return w.Take();
}

Request DecodeRequest(std::string_view body) {
    Reader r(body);
    Request request;
    const auto kind = r.U8();
    switch (static_cast<RequestKind>(kind)) {
        case RequestKind::kOpenFile:
            request.kind = RequestKind::kOpenFile;
            request.path = r.Text();
            break;
        case RequestKind::kOpenImage:
            request.kind = RequestKind::kOpenImage;
            request.image = r.Blob();
            break;
        case RequestKind::kReadSchema:
            request.kind = RequestKind::kReadSchema;
            break;
        case RequestKind::kReadOutline:
            request.kind = RequestKind::kReadOutline;
            break;
        case RequestKind::kReadMember:
            request.kind = RequestKind::kReadMember;
            request.collection = r.Text();
            request.member = r.U32();
            break;
        case RequestKind::kSelfTest: {
            request.kind = RequestKind::kSelfTest;
            const auto mode = r.U8();
            if (mode < static_cast<std::uint8_t>(SelfTestMode::kHang) ||
                mode > static_cast<std::uint8_t>(SelfTestMode::kExhaustLibraryMemory)) {
                throw WireFormatError("unknown self-test mode");
            }
            request.mode = static_cast<SelfTestMode>(mode);
            break;
        }
        case RequestKind::kReadRows: {
            request.kind = RequestKind::kReadRows;
            request.table = r.Text();
            const auto n = r.Count(4);
            request.fields.reserve(n);
            for (std::uint32_t i = 0; i < n; ++i) {
                request.fields.push_back(r.Text());
            }
            request.firstRow = static_cast<std::uint64_t>(r.I64());
            request.maxRows = r.U32();
            if (request.maxRows > kMaxRowsPerReply) {
                throw WireFormatError("too many rows asked for");
            }
            break;
        }
        case RequestKind::kReadChunk:
            request.kind = RequestKind::kReadChunk;
            request.longValue = r.Blob();
            request.offset = static_cast<std::uint64_t>(r.I64());
            request.count = r.U32();
            if (request.longValue.size() != kLongValueHeaderBytes ||
                request.count > kMaxChunkBytes) {
                throw WireFormatError("bad long value piece request");
            }
            break;
        default:
            throw WireFormatError("unknown request " + std::to_string(kind));
    }
    r.ExpectEnd();
    return request;
}

std::string EncodeReply(const Reply& reply) {
    Writer w;
    w.U8(static_cast<std::uint8_t>(reply.kind));
    switch (reply.kind) {
        case ReplyKind::kOk:
            w.Text(reply.text);
            break;
        case ReplyKind::kError:
            PutError(w, reply.error);
            break;
        case ReplyKind::kSchema:
            PutNode(w, reply.schema);
            break;
        case ReplyKind::kRows:
            w.U8(reply.tableEnds ? 1 : 0);
            w.U32(static_cast<std::uint32_t>(reply.rows.size()));
            for (const auto& row : reply.rows) {
                w.U32(static_cast<std::uint32_t>(row.size()));
                for (const auto& cell : row) {
                    PutCell(w, cell);
                }
            }
            break;
        case ReplyKind::kChunk:
            w.Blob(reply.chunk);
            break;
    }
    return w.Take();
}

Reply DecodeReply(std::string_view body) {
    Reader r(body);
    Reply reply;
    const auto kind = r.U8();
    switch (static_cast<ReplyKind>(kind)) {
        case ReplyKind::kOk:
            reply.kind = ReplyKind::kOk;
            reply.text = r.Text();
            break;
        case ReplyKind::kError:
            reply.kind = ReplyKind::kError;
            reply.error = GetError(r);
            break;
        case ReplyKind::kSchema:
            reply.kind = ReplyKind::kSchema;
            reply.schema = GetNode(r, 0);
            break;
        case ReplyKind::kRows: {
            reply.kind = ReplyKind::kRows;
            reply.tableEnds = r.U8() != 0;
            const auto n = r.Count(4);
            reply.rows.reserve(n);
            for (std::uint32_t i = 0; i < n; ++i) {
                const auto cells = r.Count(2);
                auto& row = reply.rows.emplace_back();
                row.reserve(cells);
                for (std::uint32_t c = 0; c < cells; ++c) {
                    row.push_back(GetCell(r));
                }
            }
            break;
        }
        case ReplyKind::kChunk:
            reply.kind = ReplyKind::kChunk;
            reply.chunk = r.Blob();
            break;
        default:
            throw WireFormatError("unknown reply " + std::to_string(kind));
    }
    r.ExpectEnd();
    return reply;
}

std::string FrameHeader(std::uint32_t size) {
    Writer w;
    w.U32(size);
    return w.Take();
}

std::uint32_t FrameLength(const unsigned char header[4]) {
    return std::uint32_t{header[0]} | (std::uint32_t{header[1]} << 8) |
           (std::uint32_t{header[2]} << 16) | (std::uint32_t{header[3]} << 24);
}

}  // namespace kesmark::access
