// The image information dialog (template 103): name, resolution, type,
// aspect ratio, gamma, file date and size, frames and comment of a PIC file.
#pragma once

#include <string>

#include "host/bitmap_info.h"
#include "ui/modal_dialog.h"

class PicInfoDialog : public ModalDialog {
public:
    explicit PicInfoDialog(HostWindow parent = nullptr);
    ~PicInfoDialog() override;

    // The record whose name is shown and whose file is looked up; not owned.
    void SetImageInfo(BitmapInfo* info);
    void SetResolution(int width, int height);

    std::string aspectText;
    std::string gammaText;
    std::string typeText;
    std::string framesText;
    std::string commentText;
    BitmapInfo* imageInfo;
    int imageWidth;
    int imageHeight;

protected:
    const MessageMap* GetMessageMap() const override;
    void DoDataExchange(DataExchange& exchange) override;
    int OnInitDialog() override;

    // Empty: OK, Escape and the close box keep the default handling.
    static const MessageMap messageMap;

private:
    void ShowFileSizeAndDate();
};
