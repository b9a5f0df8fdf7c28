// The driver's three dialog operations reach their dialogs through one table
// of hooks, so that the driver links no dialog code. The module fills the
// table from ui/ at start-up; until then, and wherever ui/ is not linked,
// each hook answers as a dialog that cannot be created answers.
#pragma once

#include "driver/pic_options.h"
#include "host/bitmap_info.h"
#include "host/host_api.h"
#include "pic/pic_header.h"

// A hook may throw std::bad_alloc; the driver's operations catch it.
struct PicDialogHooks {
    // The About box from template `templateId`, owned by `parent`: 1 once it
    // has been closed, -1 when it cannot be created.
    int (*about)(int templateId, HostWindow parent);
    // The options dialog over `options`: 1 after OK, with the block changed;
    // 0 on any other end, with every byte of the block as it was.
    int (*options)(PicOptions& options);
    // The image information dialog for the copy `info`, whose file's header
    // and layout have just been read into `header` and `options`.
    void (*imageInfo)(BitmapInfo* info, const PicHeader& header, const PicOptions& options);
};

// No dialog: About answers -1, options 0, image information shows nothing.
extern const PicDialogHooks kNoDialogHooks;

// Replaces the table the driver's operations call, kNoDialogHooks until
// then. Set once at start-up, before any driver is used.
void SetPicDialogHooks(const PicDialogHooks& hooks);
