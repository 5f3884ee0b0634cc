#pragma once

#include <stdexcept>
#include <string>

namespace kesmark {

// The one error type of the database layer and the engine. Every backend turns
// the failures of its C library into a DbError; every comparison operation
// catches it, shows it once through the host (description as text, source as
// caption) and returns false.
//
// Numbers below 1000 follow the numbers a DAO user would recognise where
// one exists (3265 "Item not found in this collection."); backends add their
// library's own code (SQLite result code, ODBC native error) where they have one.
class DbError : public std::runtime_error {
  public:
    DbError(long number, std::string description, std::string source)
        : std::runtime_error(description),
          number_(number),
          description_(std::move(description)),
          source_(std::move(source)) {}

    long Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }
    const std::string& Source() const noexcept { return source_; }

  private:
    long number_;
    std::string description_;
    std::string source_;
};

// `error` with the name of the database it came from, and what was being
// read, in front ("'shop.db': reading the Fields of TableDefs[Orders]: ..."),
// unless its description names the database already.
inline DbError NamingDatabase(const DbError& error, const std::string& database,
                              const std::string& what = "") {
    if (error.Description().find("'" + database + "'") != std::string::npos) {
        return error;
    }
    return DbError(error.Number(),
                   "'" + database + "': " + (what.empty() ? "" : what + ": ") + error.Description(),
                   error.Source());
}

// Error numbers used across backends.
namespace errors {
inline constexpr long kItemNotFound = 3265;        // "Item not found in this collection."
inline constexpr long kInvalidUseOfNull = 94;      // converting Null to text
inline constexpr long kTypeMismatch = 13;          // comparing values of unrelated kinds
inline constexpr long kCannotOpen = 3024;          // file not found / cannot be opened
inline constexpr long kUnrecognizedFormat = 3343;  // not a database we can read
inline constexpr long kNotSupported = 3251;        // operation not supported for this object
inline constexpr long kNoCurrentRecord = 3021;     // EOF or BOF reached
inline constexpr long kDuplicateKey = 35602;       // key is not unique in the result tree
inline constexpr long kElementNotFound = 35605;    // no node of that key in the result tree
inline constexpr long kInvalidArgument = 3001;     // a malformed request or argument
inline constexpr long kNotAValidPassword = 3031;   // password-protected or encrypted file
inline constexpr long kDamaged = 3049;             // the file is damaged, or its reader failed
inline constexpr long kTableNotFound = 3078;       // "cannot find the input table"
inline constexpr long kOutOfMemory = 7;            // a structure reached the most it can hold
}  // namespace errors

}  // namespace kesmark
