#pragma once

// DAO codes shared by every backend, the engine and the Access reader
// process: data type codes, attribute bits and fixed field sizes.

#include <cstdint>
#include <string_view>

namespace kesmark {

// DAO data type codes. Backends report every property's and field's type in
// these codes so that one engine compares them all.
namespace dao {
inline constexpr int kBoolean = 1;
inline constexpr int kByte = 2;
inline constexpr int kInteger = 3;  // 16-bit
inline constexpr int kLong = 4;     // 32-bit
inline constexpr int kCurrency = 5;
inline constexpr int kSingle = 6;
inline constexpr int kDouble = 7;
inline constexpr int kDate = 8;
inline constexpr int kBinary = 9;
inline constexpr int kText = 10;
inline constexpr int kLongBinary = 11;
inline constexpr int kMemo = 12;
inline constexpr int kGuid = 15;
inline constexpr int kBigInt = 16;
inline constexpr int kVarBinary = 17;
inline constexpr int kChar = 18;
inline constexpr int kNumeric = 19;
inline constexpr int kDecimal = 20;
inline constexpr int kFloat = 21;
inline constexpr int kTime = 22;
inline constexpr int kTimeStamp = 23;

// Attribute bits and codes of DAO objects, which every backend reports alike.
inline constexpr std::int64_t kSystemObject = -2147483646;  // dbSystemObject, &H80000002
inline constexpr int kFixedField = 1;                       // dbFixedField
inline constexpr int kVariableField = 2;                    // dbVariableField
inline constexpr int kAutoIncrField = 16;                   // dbAutoIncrField
inline constexpr int kDescending = 1;                       // dbDescending (index field)
inline constexpr int kRelationDontEnforce = 2;              // dbRelationDontEnforce
inline constexpr int kRelationUpdateCascade = 256;          // dbRelationUpdateCascade
inline constexpr int kRelationDeleteCascade = 4096;         // dbRelationDeleteCascade
inline constexpr int kQuerySelect = 0;                      // dbQSelect
inline constexpr int kQueryProcedure = 224;                 // dbQProcedure
inline constexpr int kParamInput = 1;                       // dbParamInput
inline constexpr int kParamOutput = 2;                      // dbParamOutput
inline constexpr int kParamInputOutput = 3;                 // dbParamInputOutput

// The byte size DAO gives a field of a fixed-size type (1 for Boolean and
// Byte, 2 Integer, 4 Long and Single, 8 for the 8-byte numbers and dates, 16
// GUID); 0 for the other types, whose size depends on the field.
inline int FixedSize(int type) {
    switch (type) {
        case kBoolean:
        case kByte:
            return 1;
        case kInteger:
            return 2;
        case kLong:
        case kSingle:
            return 4;
        case kBigInt:
        case kCurrency:
        case kDouble:
        case kDate:
        case kTime:
        case kTimeStamp:
            return 8;
        case kGuid:
            return 16;
        default:
            return 0;
    }
}

// A relation's Attributes from its SQL referential actions: the cascade bits
// for "CASCADE" on update and on delete.
inline int RelationAttributes(std::string_view onUpdate, std::string_view onDelete) {
    return (onUpdate == "CASCADE" ? kRelationUpdateCascade : 0) |
           (onDelete == "CASCADE" ? kRelationDeleteCascade : 0);
}
}  // namespace dao

}  // namespace kesmark
