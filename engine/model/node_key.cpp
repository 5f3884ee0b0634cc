#include "engine/model/node_key.h"

namespace kesmark {

std::string EscapeKeyName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        out += c;
        if (c == '[' || c == ']') {
            out += c;
        }
    }
    return out;
}

std::string JoinRowKey(const std::vector<std::string>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        for (const char c : values[i]) {
            out += c;
            if (c == ',') {
                out += c;
            }
        }
    }
    return out;
}

bool SplitRowKey(std::string_view text, std::vector<std::string>& values) {
    values.assign(1, std::string());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != ',') {
            values.back() += c;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == ',') {
            values.back() += ',';
        } else if (i + 1 < text.size() && text[i + 1] == ' ') {
            values.emplace_back();
        } else {
            return false;
        }
        ++i;
    }
    return true;
}

NodeKey NodeKey::Child(std::string_view collection, std::string_view name) const {
    NodeKey child = *this;
    child.segments_.push_back({std::string(collection), std::string(name)});
    return child;
}

NodeKey NodeKey::Parent() const {
    NodeKey parent = *this;
    if (!parent.segments_.empty()) {
        parent.segments_.pop_back();
    }
    return parent;
}

std::string NodeKey::Text() const {
    if (segments_.empty()) {
        return std::string(kRootKey);
    }
    std::string text;
    for (const auto& segment : segments_) {
        if (!text.empty()) {
            text += '.';
        }
        text.append(segment.collection).append("[").append(EscapeKeyName(segment.name)).append("]");
    }
    return text;
}

const std::string& NodeKey::Name() const {
    static const std::string empty;
    return segments_.empty() ? empty : segments_.back().name;
}

std::vector<std::string> NodeKey::OwnerNamesInnermostFirst() const {
    std::vector<std::string> names;
    for (auto it = segments_.rbegin(); it != segments_.rend(); ++it) {
        names.push_back(it->name);
    }
    return names;
}

bool NodeKey::Parse(std::string_view text, NodeKey& key) {
    key = NodeKey();
    if (text == kRootKey) {
        return true;
    }
    std::size_t at = 0;
    while (true) {
        const auto open = text.find('[', at);
        if (open == std::string_view::npos || open == at) {
            return false;
        }
        Segment segment{std::string(text.substr(at, open - at)), {}};
        if (segment.collection.find_first_of(".]") != std::string::npos) {
            return false;
        }
        std::size_t i = open + 1;
        bool closed = false;
        while (i < text.size()) {
            const char c = text[i];
            if ((c == '[' || c == ']') && i + 1 < text.size() && text[i + 1] == c) {
                segment.name += c;
                i += 2;
                continue;
            }
            if (c == ']') {
                closed = true;
                ++i;
                break;
            }
            if (c == '[') {
                return false;  // a lone "[" inside a name is never written
            }
            segment.name += c;
            ++i;
        }
        if (!closed) {
            return false;
        }
        key.segments_.push_back(std::move(segment));
        if (i == text.size()) {
            return true;
        }
        if (text[i] != '.') {
            return false;
        }
        at = i + 1;
    }
}

std::string NodeKeyReader::ReadCollection() {
    const auto open = text_.find('[', position_);
    const auto end = open == std::string_view::npos ? text_.size() : open;
    std::string collection(text_.substr(position_, end - position_));
    position_ = open == std::string_view::npos ? text_.size() : open + 1;
    return collection;
}

std::string NodeKeyReader::ReadName() {
    std::string name;
    while (position_ < text_.size()) {
        const char c = text_[position_];
        if ((c == '[' || c == ']') && position_ + 1 < text_.size() && text_[position_ + 1] == c) {
            name += c;
            position_ += 2;
            continue;
        }
        ++position_;
        if (c == ']') {
            break;
        }
        name += c;
    }
    return name;
}

std::string NodeKeyReader::ReadPlain() {
    const auto close = text_.find(']', position_);
    const auto end = close == std::string_view::npos ? text_.size() : close;
    std::string plain(text_.substr(position_, end - position_));
    position_ = close == std::string_view::npos ? text_.size() : close + 1;
    return plain;
}

void NodeKeyReader::SkipSeparator() {
    if (position_ >= text_.size()) {
        return;
    }
    ++position_;
    while (position_ < text_.size() &&
           (static_cast<unsigned char>(text_[position_]) & 0xC0) == 0x80) {
        ++position_;
    }
}

}  // namespace kesmark
