// PicClassDesc: the module's one class descriptor. It creates PicBitmapIO
// drivers and names the class to the host; it has no data of its own.
#pragma once

#include "host/class_desc.h"

constexpr ClassId kPicClassId = {0x5F865980, 0x67733FA6};

class PicClassDesc : public ClassDesc {
public:
    int IsListed() override;
    void* NewDriver(int loading) override;
    int HostSlot3(intptr_t argument) override;
    int HostSlot4(intptr_t argument) override;
    const char* ClassDisplayName() override;
    int SuperclassCode() override;
    ClassId* ClassIdentifierInto(ClassId* result) override;
    const char* CategoryName() override;
    int HostSlot9(intptr_t argument) override;
    int HostSlot10() override;
    void HostSlot11(intptr_t argument) override;
    void HostSlot12(intptr_t argument) override;
    int HostSlot13() override;
    int HostSlot14(intptr_t argument) override;
    int HostSlot15(intptr_t argument) override;
};

// The static descriptor, alive for the module's whole life.
PicClassDesc* ThePicClassDesc();
