#include "engine/backends/odbc/odbc_value_stream.h"

#include <algorithm>

namespace kesmark::odbc {

namespace {

bool IsHighSurrogate(SQLWCHAR unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

ValueStream::ValueStream(Statement& statement, SQLUSMALLINT column, ColumnRead& read)
    : statement_(statement),
      column_(column),
      read_(read),
      binary_(read.cType == SQL_C_BINARY),
      piece_(kPieceBytes / sizeof(SQLWCHAR)) {}

SQLLEN ValueStream::Start(std::string_view context) {
    if (!started_) {
        ReadPiece(context);
    }
    return firstIndicator_;
}

bool ValueStream::IsNull(std::string_view context) {
    Start(context);
    return null_;
}

std::int64_t ValueStream::ReadToEnd(std::string_view context) {
    Start(context);
    while (!ended_) {
        heldFrom_ += static_cast<std::int64_t>(held_.size());
        held_.clear();
        ReadPiece(context);
    }
    return length_.value_or(heldFrom_ + static_cast<std::int64_t>(held_.size()));
}

std::string ValueStream::ReadAll(std::string_view context) {
    Start(context);
    while (!ended_) {
        ReadPiece(context);
    }
    return std::move(held_);
}

Bytes ValueStream::Read(std::int64_t offset, std::size_t count, std::string_view context) {
    Start(context);
    for (;;) {
        const std::int64_t heldEnd = heldFrom_ + static_cast<std::int64_t>(held_.size());
        if (offset >= heldEnd) {
            heldFrom_ = heldEnd;
            held_.clear();
        } else if (offset > heldFrom_) {
            held_.erase(0, static_cast<std::size_t>(offset - heldFrom_));
            heldFrom_ = offset;
        }
        if ((offset == heldFrom_ && held_.size() >= count) || ended_) {
            break;
        }
        ReadPiece(context);
    }
    if (offset != heldFrom_) {
        return {};
    }
    const std::size_t take = std::min(count, held_.size());
    return Bytes(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(take));
}

void ValueStream::ReadPiece(std::string_view context) {
    if (ended_) {
        return;
    }
    const bool first = !started_;
    started_ = true;
    SQLLEN indicator = 0;
    const auto bufferBytes = static_cast<SQLLEN>(piece_.size() * sizeof(SQLWCHAR));
    const SQLRETURN rc =
        statement_.GetPiece(column_, read_.cType, piece_.data(), bufferBytes, indicator, context);
    if (first) {
        read_.firstIndicator = firstIndicator_ = rc == SQL_NO_DATA ? SQL_NO_DATA : indicator;
    }
    if (rc == SQL_NO_DATA) {
        read_.drained = true;
        Finish();
        return;
    }
    if (indicator == SQL_NULL_DATA) {
        null_ = true;
        Finish();
        return;
    }
    if (binary_) {
        const bool more =
            rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator > bufferBytes);
        if (first && indicator >= 0) {
            length_ = indicator;
        }
        const auto bytes = more ? static_cast<std::size_t>(bufferBytes)
                                : std::min(static_cast<std::size_t>(bufferBytes),
                                           static_cast<std::size_t>(indicator));
        held_.append(reinterpret_cast<const char*>(piece_.data()), bytes);
        if (!more) {
            Finish();
        }
        return;
    }
    const bool more =
        rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator >= bufferBytes);
    const std::size_t capacity = piece_.size() - 1;
    const std::size_t units =
        more ? capacity
             : std::min(capacity, static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR));
    WideString text;
    if (highSurrogate_) {
        text.push_back(*highSurrogate_);
        highSurrogate_.reset();
    }
    text.append(piece_.data(), units);
    // A surrogate pair parted between two pieces is joined again.
    if (more && !text.empty() && IsHighSurrogate(text.back())) {
        highSurrogate_ = text.back();
        text.pop_back();
    }
    AppendNarrow(text.data(), text.size(), held_);
    if (!more) {
        Finish();
    }
}

void ValueStream::Finish() {
    if (highSurrogate_) {
        AppendNarrow(&*highSurrogate_, 1, held_);
        highSurrogate_.reset();
    }
    ended_ = true;
    if (!length_) {
        length_ = null_ ? 0 : heldFrom_ + static_cast<std::int64_t>(held_.size());
    }
}

}  // namespace kesmark::odbc
