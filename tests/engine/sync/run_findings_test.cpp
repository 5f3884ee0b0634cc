// What a run's tree tells a sync script: the tables found the same, and the
// rows of a table matched by key, only when the tree lists every one.

#include "engine/sync/run_findings.h"

#include <gtest/gtest.h>

namespace kesmark::sync {
namespace {

TEST(RunFindings, SameTablesAndWholeListsOfRows) {
    MemoryResultTree tree;
    tree.AddNode("", "Databases", "Databases", Picture::DatabasesDiffers);
    tree.AddNode("Databases", "TableDefs[Same]", "Same", Picture::TableSame);
    tree.SetRowCounts("TableDefs[Same]", RowCounts{0, 0, 0, 4});
    tree.AddNode("Databases", "TableDefs[Listed]", "Listed", Picture::TableDiffers);
    tree.AddNode("TableDefs[Listed]", "TableDefs[Listed].Fields[A]", "A", Picture::FieldDiffers);
    tree.AddNode("TableDefs[Listed]", "TableDefs[Listed].Rows[1]", "Row 1", Picture::RowOnlyIn1);
    tree.AddNode("TableDefs[Listed]", "TableDefs[Listed].Rows[2,, x]", "Row 2",
                 Picture::RowChanged);
    tree.AddNode("TableDefs[Listed]", "TableDefs[Listed].Rows[7]", "Row 7", Picture::RowOnlyIn2);
    tree.SetRowCounts("TableDefs[Listed]", RowCounts{1, 1, 1, 10});
    // MaxRows cut the list: the counts say more rows differ than have nodes.
    tree.AddNode("Databases", "TableDefs[Cut]", "Cut", Picture::TableDiffers);
    tree.AddNode("TableDefs[Cut]", "TableDefs[Cut].Rows[1]", "Row 1", Picture::RowChanged);
    tree.SetRowCounts("TableDefs[Cut]", RowCounts{0, 0, 5, 0});
    // Matched by position: no counts at all.
    tree.AddNode("Databases", "TableDefs[Position]", "Position", Picture::TableDiffers);
    tree.AddNode("Databases", "TableDefs[Gone]", "Gone", Picture::TableDiffers);
    tree.SetNodePresence("TableDefs[Gone]", Presence::Only2);
    tree.AddNode("Databases", "TableDefs[Unfinished]", "Unfinished", Picture::NotCompared);

    const RunFindings findings(tree);
    EXPECT_TRUE(findings.TableSame("Same"));
    for (const char* table : {"Listed", "Cut", "Position", "Gone", "Unfinished", "Unknown"}) {
        EXPECT_FALSE(findings.TableSame(table)) << table;
    }
    const auto* listed = findings.Rows("Listed");
    ASSERT_NE(listed, nullptr);
    ASSERT_EQ(listed->size(), 3u);
    EXPECT_EQ((*listed)[0].state, RowState::OnlyIn1);
    EXPECT_EQ((*listed)[1].state, RowState::Changed);
    EXPECT_EQ((*listed)[1].key, "2,, x");
    EXPECT_EQ((*listed)[2].state, RowState::OnlyIn2);
    EXPECT_EQ(findings.Rows("Cut"), nullptr);
    EXPECT_EQ(findings.Rows("Position"), nullptr);
    ASSERT_NE(findings.Rows("Same"), nullptr) << "none differ";
    EXPECT_TRUE(findings.Rows("Same")->empty());
}

}  // namespace
}  // namespace kesmark::sync
