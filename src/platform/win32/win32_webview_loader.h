// Finds the WebView2 runtime at run time. First through its loader, WebView2Loader.dll, when
// one ships beside the executable: loaded once by full path (never from the search path), kept
// for the life of the process. Without it, the installed Evergreen runtime is found from the
// client keys its updater writes (the version in "pv", the install folder in "location") and
// its engine DLL, <folder>\<version>\EBWebView\<arch>\EmbeddedBrowserWebView.dll, is loaded by
// full path and kept, like the loader.
//
// The start-up check calls WebViewRuntimeVersion; the window's web view calls
// CreateWebViewEnvironment on the UI thread, which must be in a single-threaded apartment.
// The path composition and the key search are apart so that tests can give their own keys.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/webview2_api.h"

namespace quillon::win32 {

// The installed runtime's version ("120.0.2210.91"); empty when neither the loader beside the
// executable nor the client keys name a runtime whose engine is on disk.
std::string WebViewRuntimeVersion();

// Asks the runtime for an environment keeping its data in userDataFolder. On success the
// handler is called later, on this thread, with the result and the environment; a failure code
// means it never will be. Empty: the loader's default (a folder beside the executable, often
// not writable); without the loader it is refused (E_INVALIDARG).
HRESULT CreateWebViewEnvironment(
    const std::string& userDataFolder,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

// The loader's full path for an executable's full path: the same folder.
std::wstring LoaderPathBeside(const std::wstring& executablePath);

// One place an installation of the runtime is recorded: a client key, and the folder holding
// its versions when the key has no "location".
struct RuntimeClientKey {
    HKEY root = nullptr;
    std::wstring subkey;
    std::wstring defaultFolder;
};

// The client keys looked at, in order; the first naming an engine on disk wins.
struct RuntimeSearch {
    std::vector<RuntimeClientKey> keys;
};

// The machine-wide installation, then the current user's: the order in which Microsoft's
// loader looks, so that the program binds the same runtime with or without it.
RuntimeSearch DefaultRuntimeSearch();

struct InstalledRuntime {
    std::string version;  // empty: none found
    std::wstring engine;  // the engine DLL's full path
};

// Whether a "pv" value names an installed runtime: dotted decimal numbers, not "0.0.0.0"
// (what the updater leaves behind after an uninstall).
bool IsInstalledVersion(const std::wstring& pv);

// The engine DLL of the runtime a client key describes: under location, or defaultFolder
// when location is empty. Empty when pv names no runtime or there is no folder.
std::wstring EngineDllPath(const std::wstring& pv, const std::wstring& location,
                           const std::wstring& defaultFolder);

// The first client key of the search naming a runtime whose engine DLL exists.
InstalledRuntime FindInstalledRuntime(const RuntimeSearch& search);

// Loads the engine DLL (kept for the process) and asks it for an environment, as
// CreateWebViewEnvironment does; an empty userDataFolder is refused (E_INVALIDARG).
HRESULT CreateEnvironmentFromEngine(
    const std::wstring& engine, const std::string& userDataFolder,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

}  // namespace quillon::win32
