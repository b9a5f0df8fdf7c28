// PicBitmapIO: the driver the host talks to for everything about PIC files.
// The host calls it only through the BitmapIO operation table.
#pragma once

#include "driver/pic_options.h"
#include "host/bitmap_io.h"
#include "pic/pic_header.h"

class PicBitmapIO : public BitmapIO {
public:
    PicBitmapIO();
    // Virtual so that Destroy reaches a derived driver's destructor too; its
    // table entries come after the host's 26 slots.
    virtual ~PicBitmapIO();

    void* Destroy(unsigned int deleteFlag) override;

    int ExtensionCount() override;
    const char* Extension(int index) override;
    const char* LongDescription() override;
    const char* ShortDescription() override;
    const char* Author() override;
    const char* CopyrightNotice() override;
    unsigned int VersionNumber() override;
    int Capabilities() override;
    int ShowAbout(HostWindow parent) override;
    int ShowOptions(HostWindow parent, int flag) override;
    int OptionsSize() override;
    int LoadOptions(const void* buffer) override;
    int SaveOptions(void* buffer) override;
    BMMRES ShowImageInfo(HostWindow parent, BitmapInfo* info, const char* fileName) override;
    BMMRES ReadImageInfo(BitmapInfo* info) override;
    BitmapStorage* LoadImage(BitmapInfo* info, Bitmap* bitmap, BMMRES* status) override;
    BMMRES OpenForWrite(BitmapInfo* info, Bitmap* bitmap) override;
    BMMRES WriteFrame(int frame) override;
    int CloseOutput(int flag) override;

    // The header of the file last read; while writing, the frame's size.
    PicHeader header;
    // The packet the header reader is reading.
    PicChannelPacket packet;
    PicOptions options;

private:
    // Fills `info` from the header and options just read, as ReadImageInfo does.
    void FillImageInfo(BitmapInfo* info) const;
};
