// A plug-in that answers the four exports but is not quite a PIC driver
// plug-in: each build changes one answer (FAKE_VERSION, FAKE_CLASS_COUNT,
// FAKE_SUPERCLASS, FAKE_CLASS_ID_FIRST), so the host's checks can be seen to
// refuse it.
#include "host/class_desc.h"

#if defined(_WIN32)
#define FAKE_EXPORT __declspec(dllexport)
#else
#define FAKE_EXPORT __attribute__((visibility("default")))
#endif

#ifndef FAKE_VERSION
#define FAKE_VERSION 0x07D00500
#endif
#ifndef FAKE_CLASS_COUNT
#define FAKE_CLASS_COUNT 1
#endif
#ifndef FAKE_SUPERCLASS
#define FAKE_SUPERCLASS 0xB30
#endif
#ifndef FAKE_CLASS_ID_FIRST
#define FAKE_CLASS_ID_FIRST 0x5F865980
#endif

namespace {

class FakeClassDesc : public ClassDesc {
public:
    int IsListed() override { return 1; }
    void* NewDriver(int) override { return nullptr; }
    int HostSlot3(intptr_t) override { return 0; }
    int HostSlot4(intptr_t) override { return 0; }
    const char* ClassDisplayName() override { return "Fake"; }
    int SuperclassCode() override { return FAKE_SUPERCLASS; }
    ClassId* ClassIdentifierInto(ClassId* result) override
    {
        *result = {FAKE_CLASS_ID_FIRST, 0x67733FA6};
        return result;
    }
    const char* CategoryName() override { return "Fake"; }
    int HostSlot9(intptr_t) override { return 1; }
    int HostSlot10() override { return 0; }
    void HostSlot11(intptr_t) override {}
    void HostSlot12(intptr_t) override {}
    int HostSlot13() override { return 0; }
    int HostSlot14(intptr_t) override { return 0; }
    int HostSlot15(intptr_t) override { return 0; }
};

FakeClassDesc fakeDescriptor;

} // namespace

extern "C" {
FAKE_EXPORT ClassDesc* LibClassDesc(int index)
{
    return index >= 0 && index < FAKE_CLASS_COUNT ? &fakeDescriptor : nullptr;
}
FAKE_EXPORT const char* LibDescription()
{
    return "A fake plug-in";
}
FAKE_EXPORT int LibNumberClasses()
{
    return FAKE_CLASS_COUNT;
}
FAKE_EXPORT uint32_t LibVersion()
{
    return FAKE_VERSION;
}
}
