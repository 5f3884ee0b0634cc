#include "app/program_state.h"

kesmark::ui::frmMain* gMainForm = nullptr;
