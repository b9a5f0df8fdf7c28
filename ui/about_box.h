// The About box: a plain modal dialog of the platform, not a framework
// dialog, built from the module's template with the module's handle.
#pragma once

#include "host/host_api.h"

// Shows template `templateId` of `module` modally, owned by `parent`, and
// returns what the platform's modal call returns: 1 once the box has been
// closed (OK, Enter, Escape or the close box); -1 when it cannot be created
// (always, headless).
int RunAboutBox(HostInstance module, int templateId, HostWindow parent);
