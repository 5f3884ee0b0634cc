#include "engine/model/row_checksum.h"

#include <array>

#include "engine/model/db_error.h"

namespace kesmark {

namespace {

constexpr std::array<std::string_view, 4> kPortableClasses{"integer", "text", "float", "binary"};
constexpr std::string_view kSqlitePrefix = "sqlite:";

bool IsPortable(std::string_view form) {
    for (const auto c : kPortableClasses) {
        if (form == c) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool ChecksumFormsAgree(std::string_view form1, std::string_view form2) {
    if (form1.empty() || form2.empty()) {
        return false;
    }
    if (form1 == form2) {
        return true;
    }
    if (form2.starts_with(kSqlitePrefix)) {
        std::swap(form1, form2);
    }
    return form1.starts_with(kSqlitePrefix) && form1.substr(kSqlitePrefix.size()) == form2 &&
           IsPortable(form2);
}

bool ChecksumKeyFormsAgree(std::string_view form1, std::string_view form2) {
    if (form1.starts_with(kSqlitePrefix) && form2.starts_with(kSqlitePrefix)) {
        return true;
    }
    if (!ChecksumFormsAgree(form1, form2)) {
        return false;
    }
    auto orderable = [](std::string_view form) {
        if (form.starts_with(kSqlitePrefix)) {
            form.remove_prefix(kSqlitePrefix.size());
        }
        return form == "integer" || form == "text";
    };
    return orderable(form1) && orderable(form2);
}

std::uint64_t DecimalModulo64(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        throw DbError(errors::kTypeMismatch, "A checksum is not an integer.", "Kesmark");
    }
    std::uint64_t sum = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            throw DbError(errors::kTypeMismatch,
                          "A checksum is not an integer: '" + std::string(text) + "'.", "Kesmark");
        }
        sum = sum * 10 + static_cast<std::uint64_t>(c - '0');  // wraps modulo 2^64
    }
    return negative ? ~sum + 1 : sum;
}

}  // namespace kesmark
