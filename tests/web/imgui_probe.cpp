// Dear ImGui on a web page, the way the lab will stand on it: the window and
// its OpenGL context made through platform/web as the programs make theirs,
// the panel's input fed from the window procedure, the panel drawn by the
// OpenGL2 backend under Emscripten's emulation of the fixed-function
// pipeline. It prints what the browser test checks (browser_test.mjs):
//   panel inside=N changed=N outside=N untouched=N white=N line=N grab=N fits=0|1
//   slider X0 Y0 X1 Y1          where the slider is, in canvas pixels
//   value V                     the slider's value, whenever it changes
//   wheel D                     each WM_MOUSEWHEEL's delta

#include <GL/gl.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "imgui.h"
#include "imgui_impl_opengl2.h"

namespace {

struct Rect {
    ImVec2 min, max;
};

bool In(const Rect& r, float margin, int x, int y) {
    const float cx = static_cast<float>(x) + 0.5f, cy = static_cast<float>(y) + 0.5f;
    return cx >= r.min.x - margin && cx <= r.max.x + margin && cy >= r.min.y - margin && cy <= r.max.y + margin;
}

bool Near(const unsigned char* p, int r, int g, int b, int slack) {
    return std::abs(p[0] - r) <= slack && std::abs(p[1] - g) <= slack && std::abs(p[2] - b) <= slack;
}

// The same figures as the native probe (tests/imgui_probe_test.cpp), over
// the frame just drawn on a magenta ground.
void ReportPixels(int width, int height, const Rect& window, const Rect& text) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    int inside = 0, changed = 0, outside = 0, untouched = 0, line = 0, white = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = &pixels[(static_cast<size_t>(height - 1 - y) * width + x) * 4];
            const bool clear = Near(p, 255, 0, 255, 0);
            if (In(window, -1.0f, x, y)) {
                ++inside;
                changed += clear ? 0 : 1;
            }
            if (!In(window, 1.0f, x, y)) {
                ++outside;
                untouched += clear ? 1 : 0;
            }
            if (In(text, 0.0f, x, y)) {
                ++line;
                white += Near(p, 255, 255, 255, 8) ? 1 : 0;
            }
        }
    }
    int grab = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) grab += Near(&pixels[i], 61, 133, 224, 3) ? 1 : 0;
    // Whether the canvas holds the whole window: the figures say nothing of
    // a part cut off.
    const int fits = window.max.x < static_cast<float>(width) && window.max.y < static_cast<float>(height) ? 1 : 0;
    std::printf("panel inside=%d changed=%d outside=%d untouched=%d white=%d line=%d grab=%d fits=%d\n", inside,
                changed, outside, untouched, white, line, grab, fits);
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (ImGui::GetCurrentContext() == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    ImGuiIO& io = ImGui::GetIO();
    io.KeyCtrl = GetKeyState(VK_CONTROL) < 0;
    io.KeyShift = GetKeyState(VK_SHIFT) < 0;
    switch (message) {
    case WM_SIZE:
        io.DisplaySize = ImVec2(static_cast<float>(LOWORD(lParam)), static_cast<float>(HIWORD(lParam)));
        return 0;
    case WM_MOUSEMOVE:
        io.MousePos = ImVec2(static_cast<float>(static_cast<short>(LOWORD(lParam))),
                             static_cast<float>(static_cast<short>(HIWORD(lParam))));
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        io.MousePos = ImVec2(static_cast<float>(static_cast<short>(LOWORD(lParam))),
                             static_cast<float>(static_cast<short>(HIWORD(lParam))));
        io.MouseDown[0] = message == WM_LBUTTONDOWN;
        return 0;
    case WM_MOUSEWHEEL:
        std::printf("wheel %d\n", static_cast<short>(HIWORD(wParam)));
        io.MouseWheel += static_cast<float>(static_cast<short>(HIWORD(wParam))) / WHEEL_DELTA;
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
        if (wParam < 512) io.KeysDown[wParam] = message == WM_KEYDOWN;
        return 0;
    case WM_CHAR: io.AddInputCharacter(static_cast<unsigned>(wParam)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.KeyMap[ImGuiKey_Enter] = VK_RETURN;
    io.KeyMap[ImGuiKey_Backspace] = VK_BACK;
    io.KeyMap[ImGuiKey_Escape] = VK_ESCAPE;

    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = ProbeProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "ImGuiProbe";
    RegisterClassA(&windowClass);
    const HWND window = CreateWindowExA(0, "ImGuiProbe", "Dear ImGui probe", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                                        nullptr);
    const HDC deviceContext = GetDC(window);
    PIXELFORMATDESCRIPTOR format = {};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 32;
    SetPixelFormat(deviceContext, ChoosePixelFormat(deviceContext, &format), &format);
    const HGLRC context = wglCreateContext(deviceContext);
    if (context == nullptr || !wglMakeCurrent(deviceContext, context)) {
        std::printf("no OpenGL context\n");
        return 1;
    }
    ImGui_ImplOpenGL2_Init();
    ShowWindow(window, SW_SHOWDEFAULT);

    float value = 0.5f;
    float shown = -1.0f;
    for (int frame = 0;; ++frame) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return 0;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        glViewport(0, 0, static_cast<GLsizei>(io.DisplaySize.x), static_cast<GLsizei>(io.DisplaySize.y));
        glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL2_NewFrame();
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(40.0f, 30.0f));
        ImGui::SetNextWindowSize(ImVec2(220.0f, 110.0f));
        ImGui::Begin("Probe", nullptr, ImGuiWindowFlags_NoSavedSettings);
        const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
        const Rect panel = {at, ImVec2(at.x + size.x, at.y + size.y)};
        ImGui::Text("3000 particles");
        const Rect text = {ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
        ImGui::SliderFloat("viscosity", &value, 0.0f, 1.0f);
        const Rect slider = {ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
        ImGui::End();
        ImGui::Render();
        ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
        // A window is laid out in its first frame and may be hidden in it.
        if (frame == 2) {
            ReportPixels(static_cast<int>(io.DisplaySize.x), static_cast<int>(io.DisplaySize.y), panel, text);
            std::printf("slider %d %d %d %d\n", static_cast<int>(slider.min.x), static_cast<int>(slider.min.y),
                        static_cast<int>(slider.max.x), static_cast<int>(slider.max.y));
        }
        if (value != shown) {
            std::printf("value %.3f\n", static_cast<double>(value));
            shown = value;
        }
        SwapBuffers(deviceContext);
    }
}
