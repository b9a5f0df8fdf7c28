// ClassDesc: the host's interface to a plug-in class. A plug-in module hands
// the host one descriptor per class through LibClassDesc; the host asks it
// for the class's names and identity and has it create objects. The order of
// the operations below is the host's and fixed: it calls them by slot.
// There is no virtual destructor (it would take slots): descriptors are
// static objects of the module and are never deleted by the host.
#pragma once

#include <cstdint>

#include "host/host_api.h"

// Two 32-bit words that name a class for good, returned by value.
struct ClassId {
    uint32_t first;
    uint32_t second;
};

inline bool operator==(const ClassId& left, const ClassId& right)
{
    return left.first == right.first && left.second == right.second;
}
inline bool operator!=(const ClassId& left, const ClassId& right)
{
    return !(left == right);
}

// The superclass code of image-file drivers: NewDriver of such a class makes
// a BitmapIO.
constexpr int kSuperclassBitmapIO = 0xB30;

class ClassDesc {
public:
    virtual int IsListed() = 0; //  1
    // A new object of the class, owned by the caller; null when none could
    // be made. For kSuperclassBitmapIO classes it is a BitmapIO*.
    virtual void* NewDriver(int loading) = 0; //  2
    // Slots 3, 4 and 9 to 15 are the host's; a plug-in answers them with
    // fixed values.
    virtual int HostSlot3(intptr_t argument) = 0; //  3
    virtual int HostSlot4(intptr_t argument) = 0; //  4
    virtual const char* ClassDisplayName() = 0;   //  5
    virtual int SuperclassCode() = 0;             //  6
    // Slot 7 answers as the host's compiler returns a class from a member
    // function: into the record whose address the caller passes after
    // `this`, answering that address. g++ would hand a ClassId return back
    // in EAX:EDX, which such a host never reads, and leave the address it
    // pushed on its stack. Callers use ClassIdentifier() below.
    virtual ClassId* ClassIdentifierInto(ClassId* result) = 0; //  7
    virtual const char* CategoryName() = 0;                    //  8
    virtual int HostSlot9(intptr_t argument) = 0;              //  9
    virtual int HostSlot10() = 0;                              // 10
    virtual void HostSlot11(intptr_t argument) = 0;            // 11
    virtual void HostSlot12(intptr_t argument) = 0;            // 12
    virtual int HostSlot13() = 0;                              // 13
    virtual int HostSlot14(intptr_t argument) = 0;             // 14
    virtual int HostSlot15(intptr_t argument) = 0;             // 15

    ClassId ClassIdentifier()
    {
        ClassId id = {0, 0};
        ClassIdentifierInto(&id);
        return id;
    }

protected:
    ClassDesc() = default;
    ~ClassDesc() = default;
};

// The interface version a module reports through LibVersion: the host's
// release (2000) in the high 16 bits, then 5, then 0.
constexpr uint32_t kPluginInterfaceVersion = 0x07D00500;

// The module's four exports, as the host finds them by name (or ordinal,
// given in the comment) and calls them.
using LibClassDescFunction = ClassDesc* (*)(int index); // ordinal 1
using LibDescriptionFunction = const char* (*)();       // ordinal 2
using LibNumberClassesFunction = int (*)();             // ordinal 3
using LibVersionFunction = uint32_t (*)();              // ordinal 4
