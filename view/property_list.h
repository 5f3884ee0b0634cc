#pragma once

#include <cstdint>
#include <string_view>

namespace kesmark {

// The property list as the result view writes it: one row per property, in
// the order written, never changed afterwards. The Qt list, the command-line
// printer and the tests each implement it.
class PropertyList {
public:
    virtual ~PropertyList() = default;

    // Appends a row: the property's name, its text in database 1 and in
    // database 2, a picture number of the result-tree image list (7 equal,
    // 8 different or missing, 21 skipped) and the colour of the name's text
    // as 0xBBGGRR (0 black, 255 red).
    virtual void AddPropertyRow(std::string_view name, std::string_view text1,
                                std::string_view text2, int icon, std::uint32_t colour) = 0;
    virtual void Clear() = 0;
};

}  // namespace kesmark
