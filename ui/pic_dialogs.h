// The plug-in's real dialogs, as the driver's hooks table wants them; the
// module's start-up hands this table to SetPicDialogHooks.
#pragma once

#include "driver/dialog_hooks.h"

extern const PicDialogHooks kPicDialogHooks;
