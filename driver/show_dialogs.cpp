// The driver's dialog operations (slots 10, 12 and 18): the portable work
// around each dialog, which is shown through the hooks table.
#include <memory>
#include <new>

#include "driver/dialog_hooks.h"
#include "driver/driver_description.h"
#include "driver/pic_bitmap_io.h"

static int NoAboutBox(int, HostWindow)
{
    return -1;
}

static int NoOptionsDialog(PicOptions&)
{
    return 0;
}

static void NoInfoDialog(BitmapInfo*, const PicHeader&, const PicOptions&) {}

const PicDialogHooks kNoDialogHooks = {NoAboutBox, NoOptionsDialog, NoInfoDialog};

// Constant-initialised, so that no start-up code can run before it has its
// value and overwrite a table the module has already set.
static PicDialogHooks currentHooks = {NoAboutBox, NoOptionsDialog, NoInfoDialog};

void SetPicDialogHooks(const PicDialogHooks& hooks)
{
    currentHooks = hooks;
}

int PicBitmapIO::ShowAbout(HostWindow parent)
{
    // The id's low 16 bits name the template as an integer resource id.
    return currentHooks.about(DriverDescription.aboutDialogId & 0xFFFF, parent);
}

// Neither argument is used: the dialog has no parent window. The block
// changes only after OK, all three fields at once; any other end of the run
// (Cancel, Escape, the close box, a dialog that cannot be created, an
// allocation failure) leaves every byte as it was and answers 0.
int PicBitmapIO::ShowOptions(HostWindow, int)
{
    try {
        return currentHooks.options(options);
    } catch (...) {
        // Only allocation can fail in here; nothing may leave the plug-in.
        return 0;
    }
}

// Reads a file's header through the driver's own ReadImageInfo and shows what
// it holds. The caller's info is copied, never changed. A read failure is
// answered with ReadImageInfo's own code and no dialog; once the header has
// been read the answer is 0, whether or not the dialog could be created.
BMMRES PicBitmapIO::ShowImageInfo(HostWindow, BitmapInfo* info, const char* fileName)
{
    try {
        std::unique_ptr<BitmapInfo> record(new (std::nothrow) BitmapInfo);
        if (!record)
            return kResultNoMemory;
        record->Copy(info);
        if (fileName != nullptr)
            record->SetName(fileName);
        const BMMRES readResult = this->ReadImageInfo(record.get());
        if (readResult != kResultSuccess)
            return readResult;
        currentHooks.imageInfo(record.get(), header, options);
        return kResultSuccess;
    } catch (...) {
        // Only allocation can fail in here; nothing may leave the plug-in.
        return kResultNoMemory;
    }
}
