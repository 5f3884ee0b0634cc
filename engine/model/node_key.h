#pragma once

// Node keys: the text that names one object of a comparison, such as
// "TableDefs[Orders].Fields[ID]", built from the path of (collection, name)
// pairs from the databases down; the root is "Databases". A name goes into
// the brackets as it is, except that each "[" and "]" in it is doubled, so
// that every key reads back to exactly the names it was built from:
//
//   table "a]b"                 -> "TableDefs[a]]b]"
//   table "x].Fields[y"         -> "TableDefs[x]].Fields[[y]"
//   parameter "[Start Date]"    -> "QueryDefs[Q].Parameters[[[Start Date]]]"
//
// Keys of names without brackets are the plain concatenation.
//
// A row of the data comparison is named by its key values (row keys): the
// values' texts joined by ", ", each "," inside a value doubled, so that the
// values read back whatever they hold; the brackets rule above then applies
// to the whole:
//
//   key (5)              -> "TableDefs[T].Rows[5]"
//   key (1, "a")         -> "TableDefs[T].Rows[1, a]"
//   key ("x, y]")        -> "TableDefs[T].Rows[x,, y]]]"
//   key ("a,", "b")      -> "TableDefs[T].Rows[a,,, b]"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kesmark {

inline constexpr std::string_view kRootKey = "Databases";

class NodeKey {
  public:
    struct Segment {
        std::string collection;
        std::string name;
        friend bool operator==(const Segment&, const Segment&) = default;
    };

    // The root key, "Databases".
    NodeKey() = default;

    // The key of a member `name` of the collection `collection` below this one.
    NodeKey Child(std::string_view collection, std::string_view name) const;
    // The owner's key (the root for a top-level member and for the root).
    NodeKey Parent() const;

    bool IsRoot() const { return segments_.empty(); }
    const std::vector<Segment>& Segments() const { return segments_; }
    // The key's text.
    std::string Text() const;
    // The member's name (empty for the root).
    const std::string& Name() const;
    // The names of the owners, innermost first (for status texts).
    std::vector<std::string> OwnerNamesInnermostFirst() const;

    // The key a text names, or false when the text is not a well-formed key
    // (every segment "Collection[name]", joined by ".", or "Databases").
    static bool Parse(std::string_view text, NodeKey& key);

    friend bool operator==(const NodeKey&, const NodeKey&) = default;

  private:
    std::vector<Segment> segments_;
};

// The text of a name inside a key's brackets: "[" and "]" doubled.
std::string EscapeKeyName(std::string_view name);

// The name of a row: the texts of its key values joined by ", ", each ","
// inside a value doubled. One value or more.
std::string JoinRowKey(const std::vector<std::string>& values);

// The value texts a row name was joined from; false when the text is not one
// JoinRowKey writes (a single "," not followed by a blank or a ",").
bool SplitRowKey(std::string_view text, std::vector<std::string>& values);

// Reads a key's text from left to right, one token at a time, tolerating
// text that is not a well-formed key (the result view reports what it could
// not use).
class NodeKeyReader {
  public:
    explicit NodeKeyReader(std::string_view text) : text_(text) {}

    // The text up to the next "[" (all of it when there is none); the "[" is
    // consumed.
    std::string ReadCollection();
    // A name up to its closing "]", doubled brackets read as one; the "]" is
    // consumed. An unclosed name runs to the end of the text.
    std::string ReadName();
    // The text up to the next "]", without unescaping (record numbers).
    std::string ReadPlain();
    // Drops the separator after a name: one character, a whole UTF-8 sequence.
    void SkipSeparator();
    bool AtEnd() const { return position_ >= text_.size(); }
    std::string_view Rest() const { return text_.substr(position_); }

  private:
    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace kesmark
