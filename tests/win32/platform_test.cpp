// The test seam on Windows. Calls that leave the program (the default window
// procedure, cursor warps, message boxes) and calls a test makes fail go
// through this program's import address table, whose entries are pointed
// here; everything else is Wine's or Windows' own.

#include "platform_test.h"

#include <cstring>
#include <string>

namespace platform_test {
namespace {

bool recording = false;
std::vector<WindowCall> defaultCalls;
std::vector<POINT> cursorMoves;
std::vector<MessageBoxCall> boxes;

struct Failing {
    const char* name;
    bool on;
};
Failing failing[] = {{"RegisterClassA", false}, {"UnregisterClassA", false},
                     {"ChoosePixelFormat", false}, {"SetPixelFormat", false}};

bool Fails(const char* name) {
    for (const Failing& f : failing) {
        if (std::strcmp(f.name, name) == 0) return f.on;
    }
    return false;
}

// The system's own entry points, taken before the table is redirected.
decltype(&DefWindowProcA) realDefWindowProc = nullptr;
decltype(&SetCursorPos) realSetCursorPos = nullptr;
decltype(&RegisterClassA) realRegisterClass = nullptr;
decltype(&UnregisterClassA) realUnregisterClass = nullptr;
decltype(&ChoosePixelFormat) realChoosePixelFormat = nullptr;
decltype(&SetPixelFormat) realSetPixelFormat = nullptr;

LRESULT WINAPI DefaultHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (recording) defaultCalls.push_back({window, message, wParam, lParam});
    return realDefWindowProc(window, message, wParam, lParam);
}
BOOL WINAPI CursorHook(int x, int y) {
    if (recording) cursorMoves.push_back({x, y});
    return realSetCursorPos(x, y);
}
int WINAPI MessageBoxHook(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    // Never shown: nobody would click it away.
    if (recording) boxes.push_back({text ? text : "", caption ? caption : "", type});
    return IDOK;
}
ATOM WINAPI RegisterClassHook(const WNDCLASSA* windowClass) {
    return Fails("RegisterClassA") ? 0 : realRegisterClass(windowClass);
}
BOOL WINAPI UnregisterClassHook(LPCSTR name, HINSTANCE instance) {
    return Fails("UnregisterClassA") ? FALSE : realUnregisterClass(name, instance);
}
int WINAPI ChoosePixelFormatHook(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor) {
    return Fails("ChoosePixelFormat") ? 0 : realChoosePixelFormat(dc, descriptor);
}
BOOL WINAPI SetPixelFormatHook(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor) {
    return Fails("SetPixelFormat") ? FALSE : realSetPixelFormat(dc, format, descriptor);
}

template <typename F>
void Take(F*& real, const char* module, const char* name) {
    real = reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(module), name)));
}

// Points the named imports of this program at the hooks, by the names in the
// import table, whatever DLL the linker took them from.
void Redirect() {
    static const struct {
        const char* name;
        void* hook;
    } hooks[] = {
        {"DefWindowProcA", reinterpret_cast<void*>(DefaultHook)},
        {"SetCursorPos", reinterpret_cast<void*>(CursorHook)},
        {"MessageBoxA", reinterpret_cast<void*>(MessageBoxHook)},
        {"RegisterClassA", reinterpret_cast<void*>(RegisterClassHook)},
        {"UnregisterClassA", reinterpret_cast<void*>(UnregisterClassHook)},
        {"ChoosePixelFormat", reinterpret_cast<void*>(ChoosePixelFormatHook)},
        {"SetPixelFormat", reinterpret_cast<void*>(SetPixelFormatHook)},
    };
    Take(realDefWindowProc, "user32.dll", "DefWindowProcA");
    Take(realSetCursorPos, "user32.dll", "SetCursorPos");
    Take(realRegisterClass, "user32.dll", "RegisterClassA");
    Take(realUnregisterClass, "user32.dll", "UnregisterClassA");
    Take(realChoosePixelFormat, "gdi32.dll", "ChoosePixelFormat");
    Take(realSetPixelFormat, "gdi32.dll", "SetPixelFormat");

    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         import->Name != 0; ++import) {
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            for (const auto& hook : hooks) {
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), hook.name) != 0) continue;
                DWORD old = 0;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook.hook);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            }
        }
    }
}

// Before main, so that no call of the program goes past the hooks.
const bool redirected = (Redirect(), true);

}  // namespace

void StartRecording() {
    recording = true;
    defaultCalls.clear();
    cursorMoves.clear();
    boxes.clear();
}
const std::vector<WindowCall>& DefWindowProcCalls() { return defaultCalls; }
const std::vector<POINT>& CursorMoves() { return cursorMoves; }
const std::vector<MessageBoxCall>& MessageBoxes() { return boxes; }

void SetFailing(const char* call, bool on) {
    for (Failing& f : failing) {
        if (std::strcmp(f.name, call) == 0) f.on = on;
    }
}

HWND CreateDetachedWindow(WNDPROC procedure, POINT screenOrigin, int width, int height) {
    // A real window, never shown, whose client area (a popup has no frame)
    // starts at screenOrigin. Its class procedure is the system's default, so
    // creation sends nothing to `procedure`; it takes over afterwards.
    static const char kClass[] = "pondsim-test-window";
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing = {};
    if (!GetClassInfoA(instance, kClass, &existing)) {
        WNDCLASSA windowClass = {};
        windowClass.style = CS_OWNDC;
        windowClass.lpfnWndProc = realDefWindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kClass;
        realRegisterClass(&windowClass);
    }
    HWND window = CreateWindowExA(0, kClass, "", WS_POPUP, screenOrigin.x, screenOrigin.y, width, height, nullptr,
                                  nullptr, instance, nullptr);
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    return window;
}

}  // namespace platform_test
