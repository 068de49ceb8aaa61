// A stand-in for the WebView2 runtime's engine DLL that the loader's tests install under a
// version folder and load by full path: its environment entry point records what it was given
// and answers the handler at once, as the engine does later on the real thing.
#include <windows.h>

#include "platform/win32/webview2_api.h"

namespace {

LONG calls;
bool checkedRunningInstance;
int lastRuntimeType = -1;
bool gotOptions;
wchar_t lastFolder[MAX_PATH];

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool checkRunningInstance, int runtimeType, PCWSTR userDataFolder, IUnknown* options,
    quillon::win32::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    ++calls;
    checkedRunningInstance = checkRunningInstance;
    lastRuntimeType = runtimeType;
    gotOptions = options != nullptr;
    lstrcpynW(lastFolder, userDataFolder != nullptr ? userDataFolder : L"(null)", MAX_PATH);
    if (handler == nullptr) return E_POINTER;
    handler->Invoke(S_OK, nullptr);
    return S_OK;
}

// What the last call was given: its folder, and as flags, 1 for a check of a running
// instance and 2 for options; the runtime kind; the number of calls.
__declspec(dllexport) const wchar_t* fake_engine_last_call(int* flags, int* runtimeType,
                                                           LONG* count) {
    *flags = (checkedRunningInstance ? 1 : 0) | (gotOptions ? 2 : 0);
    *runtimeType = lastRuntimeType;
    *count = calls;
    return lastFolder;
}

}  // extern "C"
