// The options dialog (template 102): 24 or 32 bits, compression and the
// comment written into PIC headers.
#pragma once

#include <string>

#include "driver/pic_options.h"
#include "ui/modal_dialog.h"

class PicOptionsDialog : public ModalDialog {
public:
    explicit PicOptionsDialog(HostWindow parent = nullptr);
    ~PicOptionsDialog() override;

    // From the driver's block: the comment's bytes up to its first zero
    // byte, never more than its 80; withAlpha and rgbCompressed as they are.
    void SeedFrom(const PicOptions& options);
    // Into the driver's block, after OK: withAlpha, rgbCompressed, and the
    // comment's first 79 bytes with a zero byte after them (the rest of the
    // field cleared). signature and alphaCompressed are not touched.
    void StoreInto(PicOptions& options) const;

    int depthIndex;          // checked radio button: 0 "24", 1 "32", -1 none
    std::string commentText; // ANSI code page bytes
    int compressFlag;        // "Compress": 0 clear, 1 checked

protected:
    const MessageMap* GetMessageMap() const override;
    void DoDataExchange(DataExchange& exchange) override;
    int OnInitDialog() override;

    static const MessageMap messageMap;

private:
    void OnDepth24Clicked();
    void OnDepth32Clicked();

    static const CommandEntry commandEntries[];
};
