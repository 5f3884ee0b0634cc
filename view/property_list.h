#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/hierarchy.h"
#include "engine/model/value.h"

namespace kesmark {

// Pictures and colours of a property row. The pictures are those of the
// result-tree image list that no tree node uses.
namespace property_rows {
inline constexpr Picture kEqualIcon = Picture::PropertySame;
inline constexpr Picture kDifferentIcon = Picture::PropertyDiffers;
inline constexpr Picture kSkippedIcon = Picture::PropertySkipped;
inline constexpr std::uint32_t kBlack = 0;
inline constexpr std::uint32_t kRed = 255;
}  // namespace property_rows

// One row of the property list: the property's name, its text in database 1
// and in database 2, a picture of the result-tree image list (equal,
// different or missing, skipped: property_rows) and the colour of the name's
// text as 0xBBGGRR (0 black, 255 red). Where a cell shows a value, the value
// itself comes along: a closer look (the window's difference pane, its tool
// tips) shows it whole, and a Null is told from a text that reads "Null".
// Cells that show no value ("not found", "skipped", an error) have none.
struct PropertyRow {
    std::string name;
    std::string text1;
    std::string text2;
    Picture icon = Picture::None;
    std::uint32_t colour = 0;
    std::optional<Value> value1;
    std::optional<Value> value2;

    bool IsNull1() const { return value1 && value1->IsNull(); }
    bool IsNull2() const { return value2 && value2->IsNull(); }
    friend bool operator==(const PropertyRow&, const PropertyRow&) = default;
};

// The property list as the result view writes it: one row per property, in
// the order written, never changed afterwards. The Qt list, the command-line
// printer and the tests each implement it.
class PropertyList {
  public:
    virtual ~PropertyList() = default;

    // Appends a row.
    virtual void AddPropertyRow(PropertyRow row) = 0;
    // Appends a row whose cells have no values behind them.
    void AddPropertyRow(std::string_view name, std::string_view text1, std::string_view text2,
                        Picture icon, std::uint32_t colour) {
        AddPropertyRow(PropertyRow{std::string(name), std::string(text1), std::string(text2), icon,
                                   colour, std::nullopt, std::nullopt});
    }
    virtual void Clear() = 0;
};

// A property list held in memory, rows in the order written. The command-line
// front end prints it; tests inspect it.
class MemoryPropertyList : public PropertyList {
  public:
    using Row = PropertyRow;
    using PropertyList::AddPropertyRow;

    void AddPropertyRow(PropertyRow row) override { rows_.push_back(std::move(row)); }
    void Clear() override { rows_.clear(); }

    const std::vector<Row>& Rows() const { return rows_; }

  private:
    std::vector<Row> rows_;
};

}  // namespace kesmark
