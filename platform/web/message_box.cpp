// A message box is a modal dialog on the page: the program waits, as on
// Windows, until it is dismissed, while the page stays alive.

#include <emscripten.h>

#include "message_queue.h"

namespace {

EM_ASYNC_JS(void, PondsimShowDialog, (const char* text, const char* caption), {
    await Module.pondsimDialog(UTF8ToString(caption), UTF8ToString(text));
});

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    platform::RecordMessageBox(text, caption, type);
    // Windows shows "Error" when no caption is given.
    PondsimShowDialog(text != nullptr ? text : "", caption != nullptr ? caption : "Error");
    return IDOK;
}
