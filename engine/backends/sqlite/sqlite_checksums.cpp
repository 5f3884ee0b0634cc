#include "engine/backends/sqlite/sqlite_checksums.h"

#include <nettle/md5.h>

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

void AppendPiece(char tag, std::string_view content, std::string& out) {
    out.push_back(tag);
    out += std::to_string(content.size());
    out.push_back(':');
    out += content;
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
            AppendPiece('t', std::string_view(text ? text : "", size), out);
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

std::uint64_t RowHash(std::string_view canonical) {
    md5_ctx md5;
    md5_init(&md5);
    md5_update(&md5, canonical.size(), reinterpret_cast<const std::uint8_t*>(canonical.data()));
    std::array<std::uint8_t, MD5_DIGEST_SIZE> digest{};
    md5_digest(&md5, digest.size(), digest.data());
    std::uint64_t hash = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        hash = (hash << 8) | digest[i];
    }
    return hash;
}

void RegisterRowChecksum(sqlite3* db) {
    Check(
        sqlite3_create_function_v2(db, kRowChecksumFunction, -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, nullptr, ChecksumStep, ChecksumFinal, nullptr),
        db);
}

}  // namespace kesmark::sqlite
