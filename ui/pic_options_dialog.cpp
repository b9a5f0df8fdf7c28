#include "ui/pic_options_dialog.h"

#include <algorithm>
#include <cstring>

#include "ui/resource_ids.h"

const CommandEntry PicOptionsDialog::commandEntries[] = {
    {IDC_DEPTH_24, static_cast<CommandHandler>(&PicOptionsDialog::OnDepth24Clicked)},
    {IDC_DEPTH_32, static_cast<CommandHandler>(&PicOptionsDialog::OnDepth32Clicked)},
};

const MessageMap PicOptionsDialog::messageMap = {&ModalDialog::messageMap, commandEntries,
                                                 sizeof commandEntries / sizeof commandEntries[0]};

PicOptionsDialog::PicOptionsDialog(HostWindow owner)
    : ModalDialog(IDD_PIC_OPTIONS, owner), depthIndex(-1), compressFlag(0)
{
}

PicOptionsDialog::~PicOptionsDialog() = default;

void PicOptionsDialog::SeedFrom(const PicOptions& options)
{
    commentText.assign(options.comment, PicCommentLength(options.comment));
    depthIndex = options.withAlpha;
    compressFlag = options.rgbCompressed;
}

void PicOptionsDialog::StoreInto(PicOptions& options) const
{
    options.withAlpha = depthIndex;
    options.rgbCompressed = compressFlag;
    // At most 79 bytes of text, so that the zero byte always fits.
    const size_t kept = std::min(commentText.size(), sizeof options.comment - 1);
    std::memset(options.comment, 0, sizeof options.comment);
    std::memcpy(options.comment, commentText.data(), kept);
}

const MessageMap* PicOptionsDialog::GetMessageMap() const
{
    return &messageMap;
}

void PicOptionsDialog::DoDataExchange(DataExchange& exchange)
{
    DDX_Radio(exchange, IDC_DEPTH_24, depthIndex);
    DDX_Text(exchange, IDC_COMMENT_EDIT, commentText);
    DDX_Check(exchange, IDC_COMPRESS, compressFlag);
}

int PicOptionsDialog::OnInitDialog()
{
    ModalDialog::OnInitDialog();
    SetDialogItemText(Window(), IDC_COMMENT_EDIT, commentText);
    // One of the two is always checked, so OK gives withAlpha 0 or 1 even
    // for a loaded value that neither button stands for. Each button is set
    // on its own: a range call would also clear "Compress", which sits
    // between their ids.
    CheckDialogButton(Window(), IDC_DEPTH_32, depthIndex == 1);
    CheckDialogButton(Window(), IDC_DEPTH_24, depthIndex != 1);
    return 1;
}

void PicOptionsDialog::OnDepth24Clicked()
{
    depthIndex = 0;
}

void PicOptionsDialog::OnDepth32Clicked()
{
    depthIndex = 1;
}
