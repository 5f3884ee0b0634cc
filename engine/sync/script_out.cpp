#include "engine/sync/script_out.h"

#include "engine/model/db_error.h"

namespace kesmark::sync {

namespace {

// A stream buffer over a C file, so that a Divert can hand an ostream on.
class FileBuffer : public std::streambuf {
  public:
    explicit FileBuffer(std::FILE* file) : file_(file) {}

  protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof()) {
            return traits_type::not_eof(c);
        }
        return std::fputc(c, file_) == EOF ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<std::size_t>(n), file_));
    }

  private:
    std::FILE* file_;  // Not owned.
};

}  // namespace

void ScriptOut::Statement(std::string_view sql) {
    out_->write(sql.data(), static_cast<std::streamsize>(sql.size()));
    *out_ << ";\n";
    ++statements_;
}

void ScriptOut::EndStatement() {
    *out_ << ";\n";
    ++statements_;
}

void ScriptOut::Comment(std::string_view text) {
    *out_ << "-- " << text << '\n';
}

void ScriptOut::NotExpressible(std::string_view nodeKey, std::string_view why) {
    *out_ << "-- not expressible: " << nodeKey << ": " << why << '\n';
    ++notExpressible_;
}

void ScriptOut::BlankLine() {
    *out_ << '\n';
}

ScriptOut::Divert::Divert(ScriptOut& script)
    : script_(script), original_(script.out_), statements_(script.statements_) {
    file_.reset(std::tmpfile());
    if (!file_) {
        throw DbError(-1, "No temporary file could be made for the sync script.", "Kesmark");
    }
    buffer_ = std::make_unique<FileBuffer>(file_.get());
    stream_ = std::make_unique<std::ostream>(buffer_.get());
    script_.out_ = stream_.get();
}

ScriptOut::Divert::~Divert() {
    script_.out_ = original_;
    if (!kept_) {
        script_.statements_ = statements_;
    }
}

void ScriptOut::Divert::Keep() {
    stream_->flush();
    std::rewind(file_.get());
    char chunk[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file_.get())) > 0) {
        original_->write(chunk, static_cast<std::streamsize>(n));
    }
    kept_ = true;
    script_.out_ = original_;
}

}  // namespace kesmark::sync
