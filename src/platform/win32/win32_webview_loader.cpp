#include "platform/win32/win32_webview_loader.h"

#include <cwchar>

#include "base/log.h"
#include "platform/win32/win32_folders.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {

namespace {

constexpr wchar_t kLoaderName[] = L"WebView2Loader.dll";
// The stable channel's client: the Evergreen runtime.
constexpr wchar_t kClientGuid[] = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

#if defined(__aarch64__) || defined(_M_ARM64)
constexpr wchar_t kEngineArch[] = L"arm64";
#elif defined(__x86_64__) || defined(_M_X64)
constexpr wchar_t kEngineArch[] = L"x64";
#else
constexpr wchar_t kEngineArch[] = L"x86";
#endif

// The engine's own entry point, the one Microsoft's loader calls once it has found the runtime;
// used only when no loader ships with the program. Not documented: the signature is the one
// open re-implementations of the loader use (check for a running browser of the same data
// folder, runtime kind 0 = installed, user data folder, options, completion handler).
using CreateWebViewEnvironmentWithOptionsInternalFn = HRESULT(STDMETHODCALLTYPE*)(
    bool checkRunningInstance, int runtimeType, PCWSTR userDataFolder, IUnknown* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);
constexpr int kInstalledRuntime = 0;

struct Loader {
    HMODULE module = nullptr;
    DWORD loadError = ERROR_SUCCESS;  // why module is null
    CreateCoreWebView2EnvironmentWithOptionsFn createEnvironment = nullptr;
    GetAvailableCoreWebView2BrowserVersionStringFn browserVersion = nullptr;
};

template <class Fn>
Fn Export(HMODULE module, const char* name) {
    // The exports have the types the loader documents; GetProcAddress cannot know them.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// By full path; the library's own imports come from its folder and the system folder only,
// never from the working one.
HMODULE LoadByFullPath(const std::wstring& path) {
    return LoadLibraryExW(path.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

Loader LoadLoader() {
    Loader loader;
    const std::wstring path = LoaderPathBeside(ExecutablePathWide());
    loader.module = path.empty() ? nullptr : LoadByFullPath(path);
    if (loader.module == nullptr) {
        loader.loadError = path.empty() ? ERROR_BAD_PATHNAME : GetLastError();
        // The usual case: the installed runtime is looked for next.
        LogWrite(Info, "WebView2 loader not loaded from %s (error %lu)", Narrow(path).c_str(),
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

// A string value of a key; empty when the key or the value is missing or not a string.
std::wstring ReadString(HKEY root, const std::wstring& subkey, const wchar_t* name) {
    for (int attempt = 0; attempt < 3; ++attempt) {  // the value may grow between the calls
        DWORD bytes = 0;
        if (RegGetValueW(root, subkey.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS) {
            return L"";
        }
        std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        const LSTATUS status =
            RegGetValueW(root, subkey.c_str(), name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return L"";
        value.resize(wcsnlen(value.c_str(), value.size()));
        return value;
    }
    return L"";
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::wstring LoaderPathBeside(const std::wstring& executablePath) {
    const size_t cut = executablePath.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return L"";
    return executablePath.substr(0, cut + 1) + kLoaderName;
}

RuntimeSearch DefaultRuntimeSearch() {
    const std::wstring client = std::wstring(L"\\Microsoft\\EdgeUpdate\\Clients\\") + kClientGuid;
    const std::wstring programs = Wide(KnownFolderPath(KnownFolder::ProgramFilesX86));
    const std::wstring local = Wide(KnownFolderPath(KnownFolder::LocalAppData));
    const wchar_t* const application = L"\\Microsoft\\EdgeWebView\\Application";
    // The updater is a 32-bit program: its machine-wide keys are in the 32-bit view.
    return RuntimeSearch{{
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node" + client,
         programs.empty() ? L"" : programs + application},
        {HKEY_CURRENT_USER, L"Software" + client, local.empty() ? L"" : local + application},
    }};
}

bool IsInstalledVersion(const std::wstring& pv) {
    // The version becomes a folder name: nothing but digits and single dots between them.
    if (pv.empty() || pv.front() == L'.' || pv.back() == L'.') return false;
    bool nonZero = false;
    for (size_t i = 0; i < pv.size(); ++i) {
        if (pv[i] == L'.') {
            if (pv[i - 1] == L'.') return false;
        } else if (pv[i] < L'0' || pv[i] > L'9') {
            return false;
        } else if (pv[i] != L'0') {
            nonZero = true;
        }
    }
    return nonZero;
}

std::wstring EngineDllPath(const std::wstring& pv, const std::wstring& location,
                           const std::wstring& defaultFolder) {
    if (!IsInstalledVersion(pv)) return L"";
    std::wstring folder = location.empty() ? defaultFolder : location;
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (folder.empty()) return L"";
    return folder + L"\\" + pv + L"\\EBWebView\\" + kEngineArch + L"\\EmbeddedBrowserWebView.dll";
}

InstalledRuntime FindInstalledRuntime(const RuntimeSearch& search) {
    for (const RuntimeClientKey& key : search.keys) {
        const std::wstring pv = ReadString(key.root, key.subkey, L"pv");
        const std::wstring engine =
            EngineDllPath(pv, ReadString(key.root, key.subkey, L"location"), key.defaultFolder);
        // A key left behind by an uninstall, or naming a folder that is gone: try the next.
        if (engine.empty() || !FileExists(engine)) continue;
        return InstalledRuntime{Narrow(pv), engine};
    }
    return {};
}

HRESULT CreateEnvironmentFromEngine(
    const std::wstring& engine, const std::string& userDataFolder,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    if (engine.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    // Without the loader nothing chooses a default data folder: the caller gives one.
    if (userDataFolder.empty()) return E_INVALIDARG;
    // Once it is called, never freed: the environment's callbacks run code of the engine.
    const HMODULE module = LoadByFullPath(engine);
    if (module == nullptr) {
        const DWORD error = GetLastError();
        LogWrite(Warn, "WebView2 engine not loaded from %s (error %lu)", Narrow(engine).c_str(),
                 static_cast<unsigned long>(error));
        return HRESULT_FROM_WIN32(error);
    }
    const auto create = Export<CreateWebViewEnvironmentWithOptionsInternalFn>(
        module, "CreateWebViewEnvironmentWithOptionsInternal");
    if (create == nullptr) {
        FreeLibrary(module);  // no engine: nothing of it can run later
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    const std::wstring folder = Wide(userDataFolder);
    return create(true, kInstalledRuntime, folder.c_str(), nullptr, handler);
}

std::string WebViewRuntimeVersion() {
    const Loader& loader = TheLoader();
    if (loader.module == nullptr) return FindInstalledRuntime(DefaultRuntimeSearch()).version;
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
    if (loader.module == nullptr) {
        const InstalledRuntime runtime = FindInstalledRuntime(DefaultRuntimeSearch());
        if (runtime.engine.empty()) {
            LogWrite(Warn, "No installed WebView2 runtime found");
            return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
        }
        return CreateEnvironmentFromEngine(runtime.engine, userDataFolder, handler);
    }
    if (loader.createEnvironment == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    const std::wstring folder = Wide(userDataFolder);
    return loader.createEnvironment(nullptr, folder.empty() ? nullptr : folder.c_str(), nullptr,
                                    handler);
}

}  // namespace quillon::win32
