// Loads PIC.BMI the way the host does (LoadLibraryA on Windows, dlopen
// natively), finds its exports by name and, on Windows, by ordinal, and
// checks what the module, its class descriptor and the drivers it makes
// answer through their operation tables.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "driver/pic_options.h"
#include "host/bmm_functions.h"
#include "host/class_desc.h"
#include "host/core.h"
#include "tests/test_support.h"

namespace {

// The module file and its exports, loaded for as long as the object lives.
class LoadedModule {
public:
    LoadedModule() : handle(Open(ModulePath())) {}
    ~LoadedModule()
    {
        if (handle == nullptr)
            return;
#if defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(handle));
#else
        dlclose(handle);
#endif
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const
    {
        return handle != nullptr;
    }

    void* Symbol(const char* name) const
    {
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
        return dlsym(handle, name);
#endif
    }

    // The address of an export found by ordinal; Windows only.
    void* Ordinal(int ordinal) const
    {
#if defined(_WIN32)
        return reinterpret_cast<void*>(
            GetProcAddress(static_cast<HMODULE>(handle), MAKEINTRESOURCEA(ordinal)));
#else
        (void)ordinal;
        return nullptr;
#endif
    }

    // What the module's start-up should have recorded: its handle on
    // Windows, its load address natively.
    HostInstance Instance() const
    {
#if defined(_WIN32)
        return static_cast<HINSTANCE>(handle);
#else
        Dl_info where{};
        if (dladdr(Symbol("LibVersion"), &where) == 0)
            return nullptr;
        return where.dli_fbase;
#endif
    }

    template <typename Function> Function Find(const char* name) const
    {
        return reinterpret_cast<Function>(Symbol(name));
    }

    ClassDesc* Descriptor(int index) const
    {
        const auto classDesc = Find<LibClassDescFunction>("LibClassDesc");
        return classDesc != nullptr ? classDesc(index) : nullptr;
    }

    static std::string ModulePath();

private:
    static void* Open(const std::string& path)
    {
#if defined(_WIN32)
        return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
#else
        return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }

    void* handle;
};

// PIC.BMI sits beside the test programs, as it sits beside pictool.
std::string LoadedModule::ModulePath()
{
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self(path, length);
    return self.substr(0, self.find_last_of("\\/") + 1) + "PIC.BMI";
#else
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, length > 0 ? size_t(length) : 0);
    return self.substr(0, self.rfind('/') + 1) + "PIC.BMI";
#endif
}

using DriverPtr = BitmapIOPtr;

DriverPtr NewDriver(ClassDesc* descriptor, int loading = 0)
{
    return DriverPtr(static_cast<BitmapIO*>(descriptor->NewDriver(loading)));
}

PicOptions SavedOptions(BitmapIO& driver)
{
    PicOptions options;
    std::memset(&options, 0xEE, sizeof options);
    EXPECT_EQ(driver.SaveOptions(&options), 1);
    return options;
}

bool HasDefaultOptions(BitmapIO& driver)
{
    const PicOptions options = SavedOptions(driver);
    const PicOptions defaults = {kPicOptionsSignature, 1, 1, 1, {}};
    return std::memcmp(&options, &defaults, sizeof options) == 0;
}

// Calls slot `slot` (counted from 1) of an object's operation table directly,
// as a host compiled from its own declarations would: this pins the slot
// order independently of host/class_desc.h.
#if defined(_WIN32)
#define HOST_THISCALL __attribute__((thiscall))
#else
#define HOST_THISCALL
#endif
template <typename Result> Result CallSlot(void* object, int slot)
{
    using Operation = Result(HOST_THISCALL*)(void*);
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Operation>(table[slot - 1])(object);
}

template <typename Result, typename Argument>
Result CallSlot(void* object, int slot, Argument argument)
{
    using Operation = Result(HOST_THISCALL*)(void*, Argument);
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Operation>(table[slot - 1])(object, argument);
}

// Slot 7 as the host's compiler calls a member function that returns a class
// by value: the caller passes the address of the result after `this`, the
// callee fills it, pops that argument and answers the address.
ClassId CallClassIdentifierSlot(void* object)
{
    using Operation = ClassId*(HOST_THISCALL*)(void*, ClassId*);
    void** table = *static_cast<void***>(object);
    ClassId id = {0xEEEEEEEE, 0xEEEEEEEE};
    EXPECT_EQ(reinterpret_cast<Operation>(table[6])(object, &id), &id);
    return id;
}

class ModuleHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(module.Loaded()) << LoadedModule::ModulePath();
        descriptor = module.Descriptor(0);
        ASSERT_NE(descriptor, nullptr);
    }

    LoadedModule module;
    ClassDesc* descriptor = nullptr;
};

} // namespace

TEST_F(ModuleHost, ExportsTheFourEntryPointsByNameAndOrdinal)
{
    const char* const names[] = {"LibClassDesc", "LibDescription", "LibNumberClasses",
                                 "LibVersion"};
    for (int ordinal = 1; ordinal <= 4; ++ordinal) {
        const char* name = names[ordinal - 1];
        void* byName = module.Symbol(name);
        EXPECT_NE(byName, nullptr) << name;
#if defined(_WIN32)
        EXPECT_EQ(module.Ordinal(ordinal), byName) << name;
#endif
    }
#if defined(_WIN32)
    EXPECT_EQ(module.Ordinal(5), nullptr);
    EXPECT_EQ(module.Symbol("_LibVersion"), nullptr);
    EXPECT_EQ(module.Symbol("LibVersion@0"), nullptr);
#else
    // Everything but the four stays inside the shared object.
    EXPECT_EQ(module.Symbol("_Z14ModuleInstancev"), nullptr);
    EXPECT_EQ(module.Symbol("_Z20RecordModuleInstancePv"), nullptr);
    EXPECT_EQ(module.Symbol("ModuleDescription"), nullptr);
#endif
}

TEST_F(ModuleHost, AnswersAsAPluginOfThisInterfaceVersion)
{
    EXPECT_EQ(module.Find<LibVersionFunction>("LibVersion")(), 0x07D00500u);
    EXPECT_EQ(module.Find<LibNumberClassesFunction>("LibNumberClasses")(), 1);
    const std::string description = module.Find<LibDescriptionFunction>("LibDescription")();
    EXPECT_EQ(description.rfind("Softimage Picture File I/O Driver ", 0), 0u) << description;
    EXPECT_LT(description.size(), 256u);
}

TEST_F(ModuleHost, HasOneClassDescriptorAndNullAroundIt)
{
    EXPECT_EQ(module.Descriptor(0), descriptor);
    for (const int index : {1, 2, -1, INT_MIN, INT_MAX})
        EXPECT_EQ(module.Descriptor(index), nullptr) << index;
}

TEST_F(ModuleHost, StartUpRegisteredTheCustomControlsOnce)
{
    EXPECT_EQ(CoreCustomControlsInstance(), module.Instance());
    EXPECT_NE(CoreCustomControlsInstance(), nullptr);
    // A second load of a loaded module is the same module: no second start-up.
    const int calls = CoreCustomControlsCalls();
    EXPECT_GE(calls, 1);
    LoadedModule again;
    ASSERT_TRUE(again.Loaded());
    EXPECT_EQ(again.Instance(), module.Instance());
    EXPECT_EQ(CoreCustomControlsCalls(), calls);
}

TEST_F(ModuleHost, ClassDescriptorAnswersEverySlot)
{
    EXPECT_EQ(descriptor->IsListed(), 1);
    EXPECT_STREQ(descriptor->ClassDisplayName(), "Softimage PIC File");
    EXPECT_EQ(descriptor->SuperclassCode(), 0xB30);
    EXPECT_STREQ(descriptor->CategoryName(), "Dorvanquil I/O Driver");
    for (const intptr_t argument : {intptr_t(0), intptr_t(1), intptr_t(-1)}) {
        EXPECT_EQ(descriptor->HostSlot3(argument), 0);
        EXPECT_EQ(descriptor->HostSlot4(argument), 0);
        EXPECT_EQ(descriptor->HostSlot9(argument), 1);
        descriptor->HostSlot11(argument);
        descriptor->HostSlot12(argument);
        EXPECT_EQ(descriptor->HostSlot14(argument), 0);
        EXPECT_EQ(descriptor->HostSlot15(argument), 0);
    }
    EXPECT_EQ(descriptor->HostSlot10(), 0);
    EXPECT_EQ(descriptor->HostSlot13(), 0);
}

TEST_F(ModuleHost, ClassDescriptorSlotsSitWhereTheHostCallsThem)
{
    EXPECT_EQ(CallSlot<int>(descriptor, 1), 1);
    EXPECT_STREQ(CallSlot<const char*>(descriptor, 5), "Softimage PIC File");
    EXPECT_EQ(CallSlot<int>(descriptor, 6), 0xB30);
    EXPECT_STREQ(CallSlot<const char*>(descriptor, 8), "Dorvanquil I/O Driver");
    EXPECT_EQ(CallSlot<int>(descriptor, 10), 0);
    EXPECT_EQ(CallSlot<int>(descriptor, 13), 0);
    for (int call = 0; call < 2; ++call) {
        const ClassId id = CallClassIdentifierSlot(descriptor);
        EXPECT_EQ(id.first, 0x5F865980u);
        EXPECT_EQ(id.second, 0x67733FA6u);
    }
}

TEST(ModuleLoads, ClassIdentifierIsTheSameOnEveryCallAndLoad)
{
    const ClassId expected = {0x5F865980, 0x67733FA6};
    for (int load = 0; load < 2; ++load) {
        LoadedModule module;
        ClassDesc* descriptor = module.Descriptor(0);
        ASSERT_NE(descriptor, nullptr);
        for (int call = 0; call < 3; ++call) {
            const ClassId id = descriptor->ClassIdentifier();
            EXPECT_EQ(id.first, expected.first);
            EXPECT_EQ(id.second, expected.second);
        }
    }
}

TEST_F(ModuleHost, DriverAnswersItsIdentityAndInheritedSlots)
{
    for (const int loading : {0, 1}) {
        DriverPtr driver = NewDriver(descriptor, loading);
        ASSERT_NE(driver, nullptr);
        EXPECT_EQ(driver->ExtensionCount(), 1);
        EXPECT_STREQ(driver->Extension(0), "pic");
        EXPECT_STREQ(driver->Extension(1), "");
        EXPECT_STREQ(driver->Extension(-1), "");
        EXPECT_STREQ(driver->LongDescription(), "Softimage PIC File");
        EXPECT_STREQ(driver->ShortDescription(), "PIC");
        EXPECT_GT(std::strlen(driver->Author()), 0u);
        EXPECT_GT(std::strlen(driver->CopyrightNotice()), 0u);
        EXPECT_EQ(driver->VersionNumber(), 100u);
        EXPECT_EQ(driver->Capabilities(), 0x40000207);
        EXPECT_EQ(driver->OptionsSize(), 96);
        EXPECT_TRUE(HasDefaultOptions(*driver));
        EXPECT_EQ(driver->CloseOutput(0), 1);
        EXPECT_EQ(driver->OpenMode(), kOpenModeNone);
        // The base class's answers, not overridden.
        EXPECT_EQ(driver->ValidatePiData(nullptr), 1);
        EXPECT_EQ(driver->ChannelsRequired(), 0);
        EXPECT_EQ(driver->GetPaviFile(), nullptr);
        EXPECT_EQ(driver->EvalMatch("x.pic"), 0);
    }
}

TEST_F(ModuleHost, DriverSlotsSitWhereTheHostCallsThem)
{
    // One table entry per slot, slot 1 the destructor with its delete flag.
    void* driver = descriptor->NewDriver(0);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(CallSlot<int>(driver, 2), 1);
    EXPECT_STREQ(CallSlot<const char*>(driver, 3, 0), "pic");
    EXPECT_STREQ(CallSlot<const char*>(driver, 4), "Softimage PIC File");
    EXPECT_STREQ(CallSlot<const char*>(driver, 5), "PIC");
    EXPECT_EQ(CallSlot<unsigned>(driver, 8), 100u);
    EXPECT_EQ(CallSlot<int>(driver, 9), 0x40000207);
    EXPECT_EQ(CallSlot<int>(driver, 13), 96);
    EXPECT_EQ(CallSlot<int>(driver, 16, static_cast<void*>(nullptr)), 1); // ValidatePiData
    EXPECT_EQ(CallSlot<int>(driver, 17), 0);                              // ChannelsRequired
    EXPECT_EQ(CallSlot<int>(driver, 24, 0), 1);                           // CloseOutput
    EXPECT_EQ(CallSlot<void*>(driver, 25), nullptr);                      // GetPaviFile
    // Frees the driver: the sanitizers' leak check sees it if it does not.
    EXPECT_EQ(CallSlot<void*>(driver, 1, 1u), driver);
}

TEST_F(ModuleHost, DriversAreIndependentWithDefaultOptions)
{
    DriverPtr first = NewDriver(descriptor);
    DriverPtr second = NewDriver(descriptor);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());

    PicOptions changed = {kPicOptionsSignature, 0, 0, 0, {}};
    std::memcpy(changed.comment, "first only", 10);
    ASSERT_EQ(first->LoadOptions(&changed), 1);
    const PicOptions saved = SavedOptions(*first);
    EXPECT_EQ(std::memcmp(&changed, &saved, sizeof changed), 0);
    EXPECT_TRUE(HasDefaultOptions(*second));
    DriverPtr third = NewDriver(descriptor);
    EXPECT_TRUE(HasDefaultOptions(*third));
}

TEST_F(ModuleHost, DriverReadsImageInformationFromAFile)
{
    TempDir dir;
    const std::string path = dir.File("rgb.pic");
    WriteFileBytes(path, MakePicHeaderBytes(320, 200, false, false, 1.2f));
    DriverPtr driver = NewDriver(descriptor);
    BitmapInfo info;
    info.SetName(path.c_str());
    ASSERT_EQ(driver->ReadImageInfo(&info), kResultSuccess);
    EXPECT_EQ(info.Width(), 320);
    EXPECT_EQ(info.Height(), 200);
    EXPECT_EQ(info.Aspect(), 1.2f);
    EXPECT_EQ(info.Gamma(), 1.0f);
    EXPECT_EQ(info.Type(), kImageType24);
    const PicOptions options = SavedOptions(*driver);
    EXPECT_EQ(options.withAlpha, 0);
    EXPECT_EQ(options.rgbCompressed, 0);

    info.SetName(dir.File("missing.pic").c_str());
    EXPECT_EQ(driver->ReadImageInfo(&info), kResultSystemError);
    WriteFileBytes(path, Bytes(50, 0x53));
    info.SetName(path.c_str());
    EXPECT_EQ(driver->ReadImageInfo(&info), kResultBadHeader);
}

#if !defined(_WIN32)
// The host's signal handling stays the host's: writing frames (temporary
// files and all) installs no handler of the plug-in's own.
static void HostsOwnHandler(int) {}

TEST_F(ModuleHost, WritingAFrameLeavesTheHostsSignalHandlersAlone)
{
    const int interrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    struct sigaction before[4];
    for (int index = 0; index < 4; ++index) {
        struct sigaction own {};
        own.sa_handler = HostsOwnHandler;
        sigaction(interrupts[index], &own, &before[index]);
    }
    TempDir dir;
    WriteFileBytes(dir.File("frame.pic"), {1, 2, 3});
    BitmapManager manager;
    Bitmap bitmap(&manager);
    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    BitmapInfo size;
    size.SetWidth(4);
    size.SetHeight(2);
    ASSERT_EQ(storage->AllocatePixels(&size, &manager, 1), 1);
    bitmap.SetStorage(storage);
    DriverPtr driver = NewDriver(descriptor);
    BitmapInfo output;
    output.SetName(dir.File("frame.pic").c_str());
    ASSERT_EQ(driver->OpenForWrite(&output, &bitmap), kResultSuccess);
    ASSERT_EQ(driver->WriteFrame(kSingleFrame), kResultSuccess);
    for (int index = 0; index < 4; ++index) {
        struct sigaction now {};
        sigaction(interrupts[index], &before[index], &now);
        EXPECT_EQ(now.sa_handler, HostsOwnHandler) << interrupts[index];
    }
}
#endif
