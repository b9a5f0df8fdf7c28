// Data exchange between a dialog's members and its controls, run in one
// direction at a time: to the controls while the dialog initialises, from
// them when it is accepted.
#pragma once

#include <string>

#include "ui/dialog_platform.h"

struct DataExchange {
    DialogWindow window;
    bool fromControls;
};

// The radio group that starts at `firstId`. To the controls: the button at
// position `index` is checked, the others cleared (none checked for an index
// outside the group). From the controls: the position of the checked
// button, or -1 when none is.
void DDX_Radio(DataExchange& exchange, int firstId, int& index);
// The control's whole text, no length check.
void DDX_Text(DataExchange& exchange, int id, std::string& text);
// A check box: 1 checked, 0 clear. Only the value 1 shows checked, as only
// 1 counts as set everywhere in the driver.
void DDX_Check(DataExchange& exchange, int id, int& state);
