// BitmapInfo: the host's description of an image, its file and its frames.
#pragma once

#include "host/host_api.h"

class BMM_API BitmapInfo {
public:
    BitmapInfo();
    ~BitmapInfo();

    // Copies every field, the update window included.
    void Copy(const BitmapInfo* from);
    // Copies the image's description and its name, but keeps this record's
    // update window: the window belongs to whoever made the record.
    void CopyImageInfo(const BitmapInfo* from);
    // Names the file; a name that does not fit is cut to 259 characters.
    void SetName(const char* name);

    const char* Name() const { return name; }
    HostWindow GetUpdateWindow() const { return updateWindow; }
    void SetUpdateWindow(HostWindow window) { updateWindow = window; }

    uint16_t Width() const { return width; }
    uint16_t Height() const { return height; }
    void SetWidth(uint16_t value) { width = value; }
    void SetHeight(uint16_t value) { height = value; }
    float Aspect() const { return aspect; }
    void SetAspect(float value) { aspect = value; }
    float Gamma() const { return gamma; }
    void SetGamma(float value) { gamma = value; }
    int FirstFrame() const { return firstFrame; }
    int LastFrame() const { return lastFrame; }
    void SetFirstFrame(int value) { firstFrame = value; }
    void SetLastFrame(int value) { lastFrame = value; }
    uint32_t Flags() const { return flags; }
    void SetFlags(uint32_t value) { flags = value; }
    int Type() const { return type; }
    void SetType(int value) { type = value; }

    // Name completion writes straight into the record.
    char* NameBuffer() { return name; }

private:
    char name[kMaxPathLength];
    HostWindow updateWindow;
    uint16_t width;
    uint16_t height;
    float aspect;
    float gamma;
    int firstFrame;
    int lastFrame;
    uint32_t flags;
    int type;
};
