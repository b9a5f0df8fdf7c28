// Shared vocabulary between the host's bitmap library and its drivers:
// export macros, the window handle type, result codes and message numbers.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#if defined(BMM_BUILDING)
#define BMM_API __declspec(dllexport)
#else
#define BMM_API __declspec(dllimport)
#endif
#if defined(CORE_BUILDING)
#define CORE_API __declspec(dllexport)
#else
#define CORE_API __declspec(dllimport)
#endif
using HostWindow = HWND;
using HostInstance = HINSTANCE;
#else
#define BMM_API __attribute__((visibility("default")))
#define CORE_API __attribute__((visibility("default")))
using HostWindow = void*;
using HostInstance = void*;
#endif

// Result codes are 16-bit values that the host hands back and forth.
using BMMRES = uint16_t;

constexpr BMMRES kResultSuccess = 0;
// What the host answers to a report without a code (null message): the
// failure is the system's own (a file that cannot be opened or created, a
// storage that refuses a row, a write that fails); the log keeps the reason.
constexpr BMMRES kResultSystemError = 2;
constexpr BMMRES kResultNoMemory = 3;
constexpr BMMRES kResultNoNumberedName = 11;
constexpr BMMRES kResultWrongMode = 12;
constexpr BMMRES kResultBadHeader = 13;
constexpr BMMRES kResultNoStorage = 14;

// A frame number that means "a single image": its file name is used as it is.
constexpr int kSingleFrame = -2000000;

// Progress message sent to a BitmapInfo's update window: WM_USER + 288,
// amount done as the first parameter, total as the second.
constexpr unsigned kProgressMessage = 0x0400 + 288;

// Longest file name, terminator included.
constexpr int kMaxPathLength = 260;

// Storage kind for 64-bit pixels (four unsigned 16-bit channels).
constexpr int kStorage64 = 6;

// Image types held in BitmapInfo.
constexpr int kImageType32WithAlpha = 6;
constexpr int kImageType24 = 8;

// BitmapInfo flag: the image has an alpha channel.
constexpr uint32_t kFlagHasAlpha = 2;
