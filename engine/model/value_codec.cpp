#include "engine/model/value_codec.h"

#include <cstring>

#include "engine/model/db_error.h"

namespace kesmark {

namespace {

template <class T>
void AppendRaw(const T& value, std::string& out) {
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    out.append(raw, sizeof(T));
}

template <class T>
T ReadRaw(std::string_view cell) {
    if (cell.size() < 1 + sizeof(T)) {
        throw DbError(-1, "A value was damaged on its way between threads.", "Kesmark");
    }
    T value;
    std::memcpy(&value, cell.data() + 1, sizeof(T));
    return value;
}

std::string_view Payload(std::string_view cell) {
    const auto length = ReadRaw<std::uint32_t>(cell);
    if (cell.size() != 1 + sizeof(std::uint32_t) + length) {
        throw DbError(-1, "A value was damaged on its way between threads.", "Kesmark");
    }
    return cell.substr(1 + sizeof(std::uint32_t));
}

}  // namespace

void EncodeValue(const Value& value, std::string& out) {
    struct Visitor {
        std::string& out;
        void operator()(const Null&) const { out.push_back(value_tags::kNull); }
        void operator()(bool b) const {
            out.push_back(value_tags::kBoolean);
            out.push_back(b ? 1 : 0);
        }
        void operator()(std::int64_t i) const { EncodeInteger(i, out); }
        void operator()(double d) const { EncodeDouble(d, out); }
        void operator()(const Currency& c) const {
            out.push_back(value_tags::kCurrency);
            AppendRaw(c.scaled, out);
        }
        void operator()(const Decimal& d) const { EncodeBytes(value_tags::kDecimal, d.text, out); }
        void operator()(const std::string& s) const { EncodeBytes(value_tags::kText, s, out); }
        void operator()(const DateTime& d) const {
            out.push_back(value_tags::kDate);
            AppendRaw(d.serial, out);
        }
        void operator()(const Bytes& b) const {
            EncodeBytes(value_tags::kBytes,
                        std::string_view(reinterpret_cast<const char*>(b.data()), b.size()), out);
        }
    };
    std::visit(Visitor{out}, value.Get());
}

Value DecodeValue(std::string_view cell) {
    if (cell.empty()) {
        throw DbError(-1, "A value was damaged on its way between threads.", "Kesmark");
    }
    switch (cell[0]) {
        case value_tags::kNull:
            return Value();
        case value_tags::kBoolean:
            return Value(ReadRaw<char>(cell) != 0);
        case value_tags::kInteger:
            return Value(ReadRaw<std::int64_t>(cell));
        case value_tags::kDouble:
            return Value(ReadRaw<double>(cell));
        case value_tags::kCurrency:
            return Value(Currency{ReadRaw<std::int64_t>(cell)});
        case value_tags::kDecimal:
            return Value(Decimal{std::string(Payload(cell))});
        case value_tags::kText:
            return Value(std::string(Payload(cell)));
        case value_tags::kDate:
            return Value(DateTime{ReadRaw<double>(cell)});
        case value_tags::kBytes: {
            const auto payload = Payload(cell);
            return Value(Bytes(payload.begin(), payload.end()));
        }
        default:
            throw DbError(-1, "A value was damaged on its way between threads.", "Kesmark");
    }
}

std::size_t EncodedCellLength(std::string_view cells) {
    if (cells.empty()) {
        throw DbError(-1, "A value was damaged on its way between threads.", "Kesmark");
    }
    std::size_t length = 0;
    switch (cells[0]) {
        case value_tags::kNull:
            length = 1;
            break;
        case value_tags::kBoolean:
            length = 2;
            break;
        case value_tags::kInteger:
        case value_tags::kDouble:
        case value_tags::kCurrency:
        case value_tags::kDate:
            length = 1 + 8;
            break;
        case value_tags::kDecimal:
        case value_tags::kText:
        case value_tags::kBytes:
            length = 1 + sizeof(std::uint32_t) + ReadRaw<std::uint32_t>(cells);
            break;
        default:
            break;
    }
    if (length == 0 || length > cells.size()) {
        throw DbError(-1, "A value was damaged on its way between threads.", "Kesmark");
    }
    return length;
}

}  // namespace kesmark
