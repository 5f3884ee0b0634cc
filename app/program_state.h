#pragma once

namespace kesmark::ui {
class frmMain;
}

// The one main window of the program, set by the start-up entry. Other parts
// of the program reach the window's fields, tree and bars through it.
extern kesmark::ui::frmMain* gMainForm;
