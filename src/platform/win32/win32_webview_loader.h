// Finds the WebView2 runtime at run time through its loader, WebView2Loader.dll, which ships
// beside the executable: loaded once by full path (never from the search path), kept for the
// life of the process. Without the loader there is no runtime as far as the application is
// concerned: how the loader itself finds and starts the installed runtime is not a documented
// interface, so it is not repeated here.
//
// The start-up check calls WebViewRuntimeVersion; the window's web view calls
// CreateWebViewEnvironment on the UI thread, which must be in a single-threaded apartment.
#pragma once

#include <string>

#include "platform/win32/webview2_api.h"

namespace quillon::win32 {

// The installed runtime's version ("120.0.2210.91"); empty when there is no loader beside the
// executable or the loader finds no runtime.
std::string WebViewRuntimeVersion();

// Asks the runtime for an environment keeping its data in userDataFolder (empty: the runtime's
// default). On success the handler is called later, on this thread, with the result and the
// environment; a failure code means it never will be.
HRESULT CreateWebViewEnvironment(
    const std::string& userDataFolder,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

// The loader's full path for an executable's full path: the same folder.
std::wstring LoaderPathBeside(const std::wstring& executablePath);

}  // namespace quillon::win32
