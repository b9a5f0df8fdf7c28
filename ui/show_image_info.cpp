// ShowImageInfo (slot 18): reads a file's header through the driver's own
// ReadImageInfo and shows what it holds.
#include <memory>
#include <new>

#include "driver/pic_bitmap_io.h"
#include "ui/module_state.h"
#include "ui/pic_info_dialog.h"
#include "ui/text_format.h"

static void FillInfoTexts(PicInfoDialog& dialog, const PicHeader& header, const PicOptions& options)
{
    dialog.framesText = FormatText("%d", 1);
    dialog.aspectText = FormatText("%.2f", double(header.ratio));
    dialog.gammaText = FormatText("%.2f", 1.0);
    dialog.commentText.assign(header.comment, PicCommentLength(header.comment));
    dialog.typeText = options.withAlpha == 1 ? "32 Bits (RGBA)" : "24 Bits (RGB)";
}

// The caller's info is copied, never changed. A read failure is answered
// with ReadImageInfo's own code and no dialog; once the header has been read
// the answer is 0, whether or not the dialog could be created.
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

        PicInfoDialog dialog(nullptr);
        ModuleStateScope pluginResources;
        dialog.SetImageInfo(record.get());
        dialog.SetResolution(header.width, header.height);
        FillInfoTexts(dialog, header, options);
        dialog.DoModal();
        return kResultSuccess;
    } catch (...) {
        // Only allocation can fail in here; nothing may leave the plug-in.
        return kResultNoMemory;
    }
}
