// BitmapIO: the host's base class for image-file drivers. The host drives a
// driver only through this operation table, so the order of the virtual
// operations below is fixed; drivers override the ones that are theirs and
// inherit ShowImage, ValidatePiData, ChannelsRequired, GetImageName,
// GetPaviFile and EvalMatch unchanged.
#pragma once

#include <memory>

#include "host/bitmap.h"

// The host's open modes for a driver.
constexpr int kOpenModeNone = 0;
constexpr int kOpenModeWrite = 2;

class BMM_API BitmapIO {
public:
    BitmapIO();
    // The host's destructor slot: destroys the driver and, when bit 0 of
    // `deleteFlag` is set, also frees it; answers the object's address. It is
    // one table entry, as the host lays its drivers out; a C++ virtual
    // destructor would take two entries here and shift every slot after it.
    virtual void* Destroy(unsigned int deleteFlag) = 0; //  1

    virtual int ExtensionCount() = 0;                           //  2
    virtual const char* Extension(int index) = 0;               //  3
    virtual const char* LongDescription() = 0;                  //  4
    virtual const char* ShortDescription() = 0;                 //  5
    virtual const char* Author() = 0;                           //  6
    virtual const char* CopyrightNotice() = 0;                  //  7
    virtual unsigned int VersionNumber() = 0;                   //  8
    virtual int Capabilities() = 0;                             //  9
    virtual int ShowAbout(HostWindow parent) = 0;               // 10
    virtual int ShowImage(HostWindow parent, BitmapInfo* info); // 11
    virtual int ShowOptions(HostWindow parent, int flag) = 0;   // 12
    virtual int OptionsSize() = 0;                              // 13
    virtual int LoadOptions(const void* buffer) = 0;            // 14
    virtual int SaveOptions(void* buffer) = 0;                  // 15
    virtual int ValidatePiData(BitmapInfo* info);               // 16
    virtual int ChannelsRequired();                             // 17
    virtual BMMRES ShowImageInfo(HostWindow parent, BitmapInfo* info,
                                 const char* fileName) = 0; // 18
    virtual BMMRES ReadImageInfo(BitmapInfo* info) = 0;     // 19
    virtual int GetImageName(BitmapInfo* info, char* name); // 20
    virtual BitmapStorage* LoadImage(BitmapInfo* info, Bitmap* bitmap,
                                     BMMRES* status) = 0;              // 21
    virtual BMMRES OpenForWrite(BitmapInfo* info, Bitmap* bitmap) = 0; // 22
    virtual BMMRES WriteFrame(int frame) = 0;                          // 23
    virtual int CloseOutput(int flag) = 0;                             // 24
    virtual void* GetPaviFile();                                       // 25
    virtual int EvalMatch(const char* name);                           // 26

    // Report a failure to the host and get back the result to hand on. The
    // coded form answers the code itself; the message form answers
    // kResultSystemError, and a null message means "the system's own error"
    // (the stand-in records the C library's errno text then).
    BMMRES ProcessImageIOError(BitmapInfo* info, int code);
    BMMRES ProcessImageIOError(BitmapInfo* info, const char* message);

    int OpenMode() const { return openMode; }
    BitmapInfo* OutputInfo() { return &outputInfo; }
    Bitmap* OutputBitmap() const { return outputBitmap; }

protected:
    // Drivers are destroyed through slot 1, never by delete on the base.
    ~BitmapIO();

    BitmapInfo outputInfo;
    Bitmap* outputBitmap;
    int openMode;
};

// Owns a driver the host made, destroying and freeing it through slot 1.
struct BitmapIODeleter {
    void operator()(BitmapIO* driver) const
    {
        if (driver != nullptr)
            driver->Destroy(1);
    }
};
using BitmapIOPtr = std::unique_ptr<BitmapIO, BitmapIODeleter>;
