#include "engine/backends/sqlite/sqlite_types.h"

#include <string>

#include "engine/model/object_tree.h"
#include "engine/model/value.h"

namespace kesmark::sqlite {

int DaoTypeFromDeclaredType(std::string_view declaredType) {
    const std::string t = FoldAsciiCase(declaredType);
    auto has = [&](std::string_view part) { return t.find(part) != std::string::npos; };
    // SQLite's affinity rules, in their order: INTEGER, TEXT, BLOB, REAL,
    // then NUMERIC for everything else; each refined by the usual names.
    if (has("int")) {
        if (has("big") || has("int8")) {
            return dao::kBigInt;
        }
        if (has("smallint") || has("int2")) {
            return dao::kInteger;
        }
        if (has("tinyint")) {
            return dao::kByte;
        }
        return dao::kLong;
    }
    if (has("char") || has("clob") || has("text")) {
        const bool unbounded = has("clob") || (has("text") && !has("("));
        return unbounded ? dao::kMemo : dao::kText;
    }
    if (t.empty() || has("blob")) {
        return dao::kLongBinary;
    }
    if (has("real") || has("floa") || has("doub")) {
        return dao::kDouble;  // SQLite keeps every real number in 8 bytes
    }
    struct Refinement {
        std::string_view part;
        int type;
    };
    static constexpr Refinement kNumericNames[] = {
        {"bool", dao::kBoolean},
        {"bit", dao::kBoolean},
        {"timestamp", dao::kTimeStamp},
        {"datetime", dao::kTimeStamp},
        {"date", dao::kDate},
        {"time", dao::kTime},
        {"money", dao::kCurrency},
        {"currency", dao::kCurrency},
        {"varbinary", dao::kVarBinary},
        {"binary", dao::kBinary},
        {"guid", dao::kGuid},
        {"uuid", dao::kGuid},
        {"uniqueidentifier", dao::kGuid},
        {"single", dao::kSingle},
        {"memo", dao::kMemo},
        {"image", dao::kLongBinary},
        {"ole", dao::kLongBinary},
    };
    for (const auto& refinement : kNumericNames) {
        if (has(refinement.part)) {
            return refinement.type;
        }
    }
    return dao::kDecimal;
}

bool IsFixedSizeDaoType(int daoType) {
    switch (daoType) {
        case dao::kText:
        case dao::kMemo:
        case dao::kBinary:
        case dao::kVarBinary:
        case dao::kLongBinary:
        case dao::kChar:
            return false;
        default:
            return true;
    }
}

int DaoSizeFromDeclaredType(std::string_view declaredType, int daoType) {
    switch (daoType) {
        case dao::kText:
        case dao::kChar:
        case dao::kBinary:
        case dao::kVarBinary: {
            const auto open = declaredType.find('(');
            if (open == std::string_view::npos) {
                return 0;
            }
            int size = 0;
            bool digits = false;
            for (auto i = open + 1; i < declaredType.size(); ++i) {
                const char c = declaredType[i];
                if (c >= '0' && c <= '9') {
                    digits = true;
                    if (size < 100000000) {
                        size = size * 10 + (c - '0');
                    }
                } else if (digits || (c != ' ' && c != '+')) {
                    break;
                }
            }
            return size;
        }
        case dao::kDecimal:
        case dao::kNumeric:
            return 16;
        default:
            return dao::FixedSize(daoType);
    }
}

}  // namespace kesmark::sqlite
