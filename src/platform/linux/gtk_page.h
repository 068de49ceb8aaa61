// The page in the desktop window's web view: the quillon:// scheme that serves the ui folder
// (quillon://app/index.html, so the page finds its assets by the same relative paths as under the
// headless bridge), the web engine's context for it (the page's storage, its languages, small
// caches) and the page's message channel: window.chrome.webview, defined by a document-start
// user script over a script message handler named "quillon" (kMessageHandler). Set-up only, for
// GtkShell on the UI thread; the shell connects the handler's signal and owns what it gets.
#pragma once

#include <filesystem>
#include <string>

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitUserContentManager WebKitUserContentManager;

namespace quillon::lnx {

inline constexpr char kPageOrigin[] = "quillon://app/";
inline constexpr char kMessageHandler[] = "quillon";

// The quillon:// address the web view loads for an address the core names: the path of
// "https://quillon.local/index.html" (or of a bare "/index.html") under quillon://app/. Empty
// when the path cannot name a file in the ui folder.
std::string DesktopPageUri(const std::string& url);

// A context whose quillon:// scheme serves uiFolder, keeping the page's storage in dataFolder
// and the engine's caches in cacheFolder (empty: nothing kept beyond the run). The caller owns
// the reference.
WebKitWebContext* NewPageContext(const std::filesystem::path& uiFolder,
                                 const std::filesystem::path& dataFolder,
                                 const std::filesystem::path& cacheFolder);

// The channel's script and handler; the caller connects "script-message-received::quillon" and
// owns the reference.
WebKitUserContentManager* NewPageChannel();

}  // namespace quillon::lnx
