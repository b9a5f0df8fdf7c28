// The dialogs behind the driver's ShowAbout, ShowOptions and ShowImageInfo.
#include "ui/pic_dialogs.h"

#include "ui/about_box.h"
#include "ui/module_instance.h"
#include "ui/module_state.h"
#include "ui/pic_info_dialog.h"
#include "ui/pic_options_dialog.h"
#include "ui/text_format.h"

// The About box passes the plug-in's handle to the platform itself.
static int ShowAboutBox(int templateId, HostWindow parent)
{
    return RunAboutBox(ModuleInstance(), templateId, parent);
}

// The block changes only after OK, all three fields at once.
static int ShowOptionsDialog(PicOptions& options)
{
    PicOptionsDialog dialog(nullptr);
    ModuleStateScope pluginResources;
    dialog.SeedFrom(options);
    if (dialog.DoModal() != kDialogOk)
        return 0;
    dialog.StoreInto(options);
    return 1;
}

static void ShowInfoDialog(BitmapInfo* info, const PicHeader& header, const PicOptions& options)
{
    PicInfoDialog dialog(nullptr);
    ModuleStateScope pluginResources;
    dialog.SetImageInfo(info);
    dialog.SetResolution(header.Width(), header.Height());
    dialog.framesText = FormatText("%d", 1);
    dialog.aspectText = FormatText("%.2f", double(header.ratio));
    dialog.gammaText = FormatText("%.2f", 1.0);
    dialog.commentText.assign(header.comment, PicCommentLength(header.comment));
    dialog.typeText = options.withAlpha == 1 ? "32 Bits (RGBA)" : "24 Bits (RGB)";
    dialog.DoModal();
}

const PicDialogHooks kPicDialogHooks = {ShowAboutBox, ShowOptionsDialog, ShowInfoDialog};
