#include "engine/backends/sqlite/sqlite_checksums.h"

#include <array>
#include <bit>
#include <cstring>

#include "engine/backends/sqlite/sqlite_handles.h"

namespace kesmark::sqlite {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHex(const unsigned char* data, std::size_t size, std::string& out) {
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kHexDigits[data[i] >> 4]);
        out.push_back(kHexDigits[data[i] & 0x0f]);
    }
}

// Text: its tag, its byte length, ":" and its bytes.
void AppendText(std::string_view content, std::string& out) {
    out.push_back('t');
    out += std::to_string(content.size());
    out.push_back(':');
    out += content;
}

// Any other class, whose content never holds ";": its tag, the content, ";".
void AppendPiece(char tag, std::string_view content, std::string& out) {
    out.push_back(tag);
    out += content;
    out.push_back(';');
}

// The running state of one group: the sum so far and the row text buffer,
// kept between rows so that it is allocated once.
struct ChecksumState {
    std::uint64_t sum = 0;
    std::string* text = nullptr;
};

void ChecksumStep(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto* state =
        static_cast<ChecksumState*>(sqlite3_aggregate_context(context, sizeof(ChecksumState)));
    if (!state) {
        sqlite3_result_error_nomem(context);
        return;
    }
    if (!state->text) {
        state->text = new std::string();
    }
    std::string& text = *state->text;
    text.clear();
    for (int i = 0; i < argc; ++i) {
        AppendCanonicalValue(argv[i], text);
    }
    state->sum += RowHash(text);
}

void ChecksumFinal(sqlite3_context* context) {
    auto* state = static_cast<ChecksumState*>(sqlite3_aggregate_context(context, 0));
    std::uint64_t sum = 0;
    if (state) {
        sum = state->sum;
        delete state->text;
        state->text = nullptr;
    }
    sqlite3_result_int64(context, std::bit_cast<sqlite3_int64>(sum));
}

}  // namespace

void AppendCanonicalValue(sqlite3_value* value, std::string& out) {
    switch (sqlite3_value_type(value)) {
        case SQLITE_INTEGER:
            AppendPiece('i', std::to_string(sqlite3_value_int64(value)), out);
            return;
        case SQLITE_FLOAT: {
            const auto bits = std::bit_cast<std::uint64_t>(sqlite3_value_double(value));
            std::array<unsigned char, 8> bytes{};
            for (std::size_t i = 0; i < 8; ++i) {
                bytes[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
            }
            std::string hex;
            AppendHex(bytes.data(), bytes.size(), hex);
            AppendPiece('f', hex, out);
            return;
        }
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
            const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
            AppendText(std::string_view(text ? text : "", size), out);
            return;
        }
        case SQLITE_BLOB: {
            const auto* data = static_cast<const unsigned char*>(sqlite3_value_blob(value));
            const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
            std::string hex;
            hex.reserve(2 * size);
            AppendHex(data, size, hex);
            AppendPiece('b', hex, out);
            return;
        }
        default:
            out.push_back('N');
    }
}

namespace {

std::uint32_t Rotate(std::uint32_t x, int k) {
    return (x << k) | (x >> (32 - k));
}

void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
    a -= c;
    a ^= Rotate(c, 4);
    c += b;
    b -= a;
    b ^= Rotate(a, 6);
    a += c;
    c -= b;
    c ^= Rotate(b, 8);
    b += a;
    a -= c;
    a ^= Rotate(c, 16);
    c += b;
    b -= a;
    b ^= Rotate(a, 19);
    a += c;
    c -= b;
    c ^= Rotate(b, 4);
    b += a;
}

void Final(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
    c ^= b;
    c -= Rotate(b, 14);
    a ^= c;
    a -= Rotate(c, 11);
    b ^= a;
    b -= Rotate(a, 25);
    c ^= b;
    c -= Rotate(b, 16);
    a ^= c;
    a -= Rotate(c, 4);
    b ^= a;
    b -= Rotate(a, 14);
    c ^= b;
    c -= Rotate(b, 24);
}

// Four bytes from `k` as a little-endian number.
std::uint32_t Word(const unsigned char* k) {
    return std::uint32_t{k[0]} | (std::uint32_t{k[1]} << 8) | (std::uint32_t{k[2]} << 16) |
           (std::uint32_t{k[3]} << 24);
}

}  // namespace

// Bob Jenkins' lookup3 mix as PostgreSQL's hash_bytes_extended has it, with
// seed 0, reading the bytes as little-endian words.
std::uint64_t RowHash(std::string_view canonical) {
    const auto* k = reinterpret_cast<const unsigned char*>(canonical.data());
    auto length = static_cast<std::uint32_t>(canonical.size());
    std::uint32_t a = 0x9e3779b9U + length + 3923095U;
    std::uint32_t b = a;
    std::uint32_t c = a;
    while (length >= 12) {
        a += Word(k);
        b += Word(k + 4);
        c += Word(k + 8);
        Mix(a, b, c);
        k += 12;
        length -= 12;
    }
    // The last 11 bytes; the lowest byte of c stands for the length.
    switch (length) {
        case 11:
            c += std::uint32_t{k[10]} << 24;
            [[fallthrough]];
        case 10:
            c += std::uint32_t{k[9]} << 16;
            [[fallthrough]];
        case 9:
            c += std::uint32_t{k[8]} << 8;
            [[fallthrough]];
        case 8:
            b += std::uint32_t{k[7]} << 24;
            [[fallthrough]];
        case 7:
            b += std::uint32_t{k[6]} << 16;
            [[fallthrough]];
        case 6:
            b += std::uint32_t{k[5]} << 8;
            [[fallthrough]];
        case 5:
            b += k[4];
            [[fallthrough]];
        case 4:
            a += std::uint32_t{k[3]} << 24;
            [[fallthrough]];
        case 3:
            a += std::uint32_t{k[2]} << 16;
            [[fallthrough]];
        case 2:
            a += std::uint32_t{k[1]} << 8;
            [[fallthrough]];
        case 1:
            a += k[0];
            break;
        default:
            break;
    }
    Final(a, b, c);
    return (std::uint64_t{b} << 32) | c;
}

void RegisterRowChecksum(sqlite3* db) {
    Check(
        sqlite3_create_function_v2(db, kRowChecksumFunction, -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, nullptr, ChecksumStep, ChecksumFinal, nullptr),
        db);
}

}  // namespace kesmark::sqlite
