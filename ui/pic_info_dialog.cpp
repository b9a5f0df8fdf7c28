#include "ui/pic_info_dialog.h"

#include <cinttypes>
#include <cstdio>

#include "host/bmm_functions.h"
#include "ui/file_facts.h"
#include "ui/resource_ids.h"
#include "ui/text_format.h"

const MessageMap PicInfoDialog::messageMap = {&ModalDialog::messageMap, nullptr, 0};

PicInfoDialog::PicInfoDialog(HostWindow owner)
    : ModalDialog(IDD_PIC_INFO, owner), imageInfo(nullptr), imageWidth(0), imageHeight(0)
{
}

PicInfoDialog::~PicInfoDialog() = default;

void PicInfoDialog::SetImageInfo(BitmapInfo* info)
{
    imageInfo = info;
}

void PicInfoDialog::SetResolution(int width, int height)
{
    imageWidth = width;
    imageHeight = height;
}

const MessageMap* PicInfoDialog::GetMessageMap() const
{
    return &messageMap;
}

void PicInfoDialog::DoDataExchange(DataExchange& exchange)
{
    DDX_Text(exchange, IDC_INFO_ASPECT, aspectText);
    DDX_Text(exchange, IDC_INFO_GAMMA, gammaText);
    DDX_Text(exchange, IDC_INFO_TYPE, typeText);
    DDX_Text(exchange, IDC_INFO_FRAMES, framesText);
    DDX_Text(exchange, IDC_INFO_COMMENT, commentText);
}

int PicInfoDialog::OnInitDialog()
{
    ModalDialog::OnInitDialog();
    // The name as the caller gave it, before ShowFileSizeAndDate completes it.
    SetDialogItemText(Window(), IDC_INFO_NAME, imageInfo != nullptr ? imageInfo->Name() : "");
    char resolution[256];
    std::snprintf(resolution, sizeof resolution, "%dx%d", imageWidth, imageHeight);
    SetDialogItemText(Window(), IDC_INFO_RESOLUTION, resolution);
    ShowFileSizeAndDate();
    return 1;
}

// Both texts stay empty for a file the lookup does not find, so the
// template's placeholders never show.
void PicInfoDialog::ShowFileSizeAndDate()
{
    std::string sizeText;
    std::string dateText;
    FileFacts facts;
    if (imageInfo != nullptr) {
        BMMGetFullFilename(imageInfo);
        if (LookUpFileFacts(imageInfo->Name(), facts)) {
            sizeText = FormatText("%" PRId64, facts.size);
            if (facts.hasDate) {
                const CalendarTime& time = facts.lastWrite;
                dateText = FormatText("%d/%02d/%02d %02d:%02d:%02d", time.year, time.month,
                                      time.day, time.hour, time.minute, time.second);
            }
        }
    }
    SetDialogItemText(Window(), IDC_INFO_SIZE, sizeText);
    SetDialogItemText(Window(), IDC_INFO_DATE, dateText);
}
