#pragma once

// Where a sync script goes: statements and comment lines, written as they
// are made (nothing of a table is held), counted for the summary.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "engine/sync/sql_dialect.h"

namespace kesmark::sync {

class ScriptOut {
  public:
    // Writes to `out` (not owned) in `dialect`.
    ScriptOut(std::ostream& out, Dialect dialect) : out_(&out), dialect_(dialect) {}

    Dialect GetDialect() const { return dialect_; }
    // One statement; the ";" and the line end are added.
    void Statement(std::string_view sql);
    // A statement written in pieces: Piece for each, then EndStatement (for
    // a value too long to hold, streamed into its literal).
    void Piece(std::string_view sql) {
        out_->write(sql.data(), static_cast<std::streamsize>(sql.size()));
    }
    std::ostream& Stream() { return *out_; }
    void EndStatement();
    // A comment line "-- text".
    void Comment(std::string_view text);
    // A line "-- not expressible: KEY: WHY", counted.
    void NotExpressible(std::string_view nodeKey, std::string_view why);
    void BlankLine();

    std::int64_t Statements() const { return statements_; }
    std::int64_t NotExpressibleCount() const { return notExpressible_; }

    // While a Divert is alive, what is written goes to a temporary file
    // instead; Keep() appends that file to the script, and a Divert dropped
    // without Keep() discards it (and the statements it counted). Throws
    // DbError when no temporary file can be made.
    class Divert {
      public:
        explicit Divert(ScriptOut& script);
        ~Divert();
        Divert(const Divert&) = delete;
        Divert& operator=(const Divert&) = delete;
        void Keep();

      private:
        struct FileCloser {
            void operator()(std::FILE* f) const { std::fclose(f); }
        };
        ScriptOut& script_;  // Not owned.
        std::ostream* original_;
        std::int64_t statements_;
        std::unique_ptr<std::FILE, FileCloser> file_;
        std::unique_ptr<std::ostream> stream_;
        std::unique_ptr<std::streambuf> buffer_;
        bool kept_ = false;
    };

  private:
    std::ostream* out_;  // Not owned.
    Dialect dialect_;
    std::int64_t statements_ = 0;
    std::int64_t notExpressible_ = 0;
};

}  // namespace kesmark::sync
