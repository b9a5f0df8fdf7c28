#include "tests/progress_recorder.h"

#include "host/window_message.h"

#if defined(_WIN32)

namespace {

const char kClassName[] = "PicTestProgressRecorder";

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(second);
        SetWindowLongPtrA(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    } else if (auto* recorder =
                   reinterpret_cast<ProgressRecorder*>(GetWindowLongPtrA(window, GWLP_USERDATA))) {
        if (message == kProgressMessage) {
            recorder->Record(message, (long long)first, (long long)second);
            return 0;
        }
    }
    return DefWindowProcA(window, message, first, second);
}

} // namespace

ProgressRecorder::ProgressRecorder() : window(nullptr)
{
    static const ATOM registered = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = RecorderProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kClassName;
        return RegisterClassA(&windowClass);
    }();
    if (registered != 0)
        window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleA(nullptr), this);
}

ProgressRecorder::~ProgressRecorder()
{
    if (window != nullptr)
        DestroyWindow(window);
}

#else

namespace {

intptr_t RecordMessage(void* context, unsigned message, uintptr_t first, intptr_t second)
{
    static_cast<ProgressRecorder*>(context)->Record(message, (long long)first, second);
    return 0;
}

} // namespace

ProgressRecorder::ProgressRecorder() : window(this)
{
    HostRegisterWindow(window, RecordMessage, this);
}

ProgressRecorder::~ProgressRecorder()
{
    HostUnregisterWindow(window);
}

#endif

void ProgressRecorder::Record(unsigned message, long long first, long long second)
{
    if (message != kProgressMessage)
        return;
    messages.emplace_back(int(first), int(second));
    if (onProgress)
        onProgress(int(first));
}
