#include "platform/win32/win32_webview_loader.h"

#include <vector>

#include "base/log.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {

namespace {

constexpr wchar_t kLoaderName[] = L"WebView2Loader.dll";

struct Loader {
    HMODULE module = nullptr;
    DWORD loadError = ERROR_SUCCESS;  // why module is null
    CreateCoreWebView2EnvironmentWithOptionsFn createEnvironment = nullptr;
    GetAvailableCoreWebView2BrowserVersionStringFn browserVersion = nullptr;
};

std::wstring ExecutablePathWide() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return L"";
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768) return L"";
        buffer.resize(buffer.size() * 4);
    }
}

template <class Fn>
Fn Export(HMODULE module, const char* name) {
    // The exports have the types the loader documents; GetProcAddress cannot know them.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

Loader LoadLoader() {
    Loader loader;
    const std::wstring path = LoaderPathBeside(ExecutablePathWide());
    // The loader's own imports come from the system folder only, never from the working one.
    loader.module =
        path.empty()
            ? nullptr
            : LoadLibraryExW(path.c_str(), nullptr,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (loader.module == nullptr) {
        loader.loadError = path.empty() ? ERROR_BAD_PATHNAME : GetLastError();
        LogWrite(Warn, "WebView2 loader not loaded from %s (error %lu)", Narrow(path).c_str(),
                 static_cast<unsigned long>(loader.loadError));
        return loader;
    }
    loader.createEnvironment = Export<CreateCoreWebView2EnvironmentWithOptionsFn>(
        loader.module, "CreateCoreWebView2EnvironmentWithOptions");
    loader.browserVersion = Export<GetAvailableCoreWebView2BrowserVersionStringFn>(
        loader.module, "GetAvailableCoreWebView2BrowserVersionString");
    return loader;
}

// Loaded at the first use and kept: the environment's callbacks may run code of the loader.
const Loader& TheLoader() {
    static const Loader loader = LoadLoader();
    return loader;
}

}  // namespace

std::wstring LoaderPathBeside(const std::wstring& executablePath) {
    const size_t cut = executablePath.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return L"";
    return executablePath.substr(0, cut + 1) + kLoaderName;
}

std::string WebViewRuntimeVersion() {
    const Loader& loader = TheLoader();
    if (loader.browserVersion == nullptr) return "";
    LPWSTR version = nullptr;
    const HRESULT hr = loader.browserVersion(nullptr, &version);
    // Older loaders report a missing runtime as success without a version.
    std::string text = SUCCEEDED(hr) ? Narrow(version) : std::string();
    if (version != nullptr) CoTaskMemFree(version);
    return text;
}

HRESULT CreateWebViewEnvironment(
    const std::string& userDataFolder,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    const Loader& loader = TheLoader();
    if (loader.module == nullptr) return HRESULT_FROM_WIN32(loader.loadError);
    if (loader.createEnvironment == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    const std::wstring folder = Wide(userDataFolder);
    return loader.createEnvironment(nullptr, folder.empty() ? nullptr : folder.c_str(), nullptr,
                                    handler);
}

}  // namespace quillon::win32
