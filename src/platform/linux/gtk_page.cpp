#include "platform/linux/gtk_page.h"

#include <webkit2/webkit2.h>

#include <optional>
#include <string_view>
#include <vector>

#include "base/url.h"
#include "platform/linux/bridge_rules.h"

namespace quillon::lnx {

namespace {

namespace fs = std::filesystem;

constexpr char kScheme[] = "quillon";

// The page's message channel, as a desktop front end provides it: window.chrome.webview with
// postMessage, addEventListener and removeEventListener. Posts go to the script message handler;
// the application's posts arrive through __quillonDeliver, which the page never needs to see.
constexpr char kChannelScript[] = R"JS((() => {
  const handler = window.webkit?.messageHandlers?.quillon;
  if (!handler || window.chrome?.webview) return;
  const listeners = new Set();
  const webview = Object.freeze({
    postMessage(message) { handler.postMessage(message); },
    addEventListener(type, listener) {
      if (type === 'message' && typeof listener === 'function') listeners.add(listener);
    },
    removeEventListener(type, listener) {
      if (type === 'message') listeners.delete(listener);
    },
  });
  Object.defineProperty(window, '__quillonDeliver', {
    value: (data) => {
      for (const listener of Array.from(listeners)) {
        // One listener's mistake must not keep the message from the others.
        try { listener({ data }); } catch (e) { setTimeout(() => { throw e; }); }
      }
    },
  });
  window.chrome = Object.assign(window.chrome || {}, { webview });
})();)JS";

// The languages the page sees (navigator.language), from the process's locale. The C and POSIX
// locales name no language, and WebKit would hand "C" to the page, which Intl refuses: English.
std::vector<std::string> PageLanguages() {
    std::vector<std::string> languages;
    for (const gchar* const* name = g_get_language_names(); *name != nullptr; ++name) {
        std::string tag = *name;
        if (tag == "C" || tag == "POSIX" || tag.find_first_of(".@") != std::string::npos) continue;
        for (char& c : tag) c = c == '_' ? '-' : c;
        languages.push_back(std::move(tag));
    }
    if (languages.empty()) languages.push_back("en-US");
    return languages;
}

void ServeUiFile(WebKitURISchemeRequest* request, gpointer data) {
    const fs::path& uiFolder = *static_cast<const fs::path*>(data);
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    std::optional<std::string> relative;
    if (uri != nullptr && g_str_has_prefix(uri, kPageOrigin)) {
        // Escaped slashes would name a different file than the path shows: refused.
        gchar* path = g_uri_unescape_string(webkit_uri_scheme_request_get_path(request), "/");
        if (path != nullptr) relative = UiRelativePath(path);
        g_free(path);
    }
    gchar* contents = nullptr;
    gsize length = 0;
    const std::string file = relative ? (uiFolder / *relative).string() : "";
    if (!relative || !g_file_get_contents(file.c_str(), &contents, &length, nullptr)) {
        GError* error = g_error_new(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "Not found: %s", uri);
        webkit_uri_scheme_request_finish_error(request, error);
        g_error_free(error);
        return;
    }
    const std::string_view type = ContentTypeFor(*relative);
    const std::string mime(type.substr(0, type.find(';')));
    GInputStream* stream =
        g_memory_input_stream_new_from_data(contents, static_cast<gssize>(length), g_free);
    webkit_uri_scheme_request_finish(request, stream, static_cast<gint64>(length), mime.c_str());
    g_object_unref(stream);
}

}  // namespace

std::string DesktopPageUri(const std::string& url) {
    const std::optional<std::string> relative = UiRelativePath(PathOfUrl(url));
    return relative ? kPageOrigin + *relative : std::string();
}

WebKitWebContext* NewPageContext(const fs::path& uiFolder, const fs::path& dataFolder,
                                 const fs::path& cacheFolder) {
    // The page's storage (its remembered choices) in the application's own folders, or for
    // the run only.
    const std::string data = dataFolder.string();
    const std::string cache = cacheFolder.string();
    WebKitWebsiteDataManager* manager =
        data.empty() ? webkit_website_data_manager_new_ephemeral()
                     : webkit_website_data_manager_new(
                           "base-data-directory", data.c_str(), "base-cache-directory",
                           cache.empty() ? nullptr : cache.c_str(), nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(manager);
    g_object_unref(manager);
    const std::vector<std::string> languages = PageLanguages();
    std::vector<const gchar*> languageList;
    for (const std::string& language : languages) languageList.push_back(language.c_str());
    languageList.push_back(nullptr);
    webkit_web_context_set_preferred_languages(context, languageList.data());
    // One local page: no memory for caches of pages and resources it will never load again.
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    webkit_web_context_register_uri_scheme(
        context, kScheme, ServeUiFile, new fs::path(uiFolder),
        [](gpointer folder) { delete static_cast<fs::path*>(folder); });
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    // Module scripts and fetches need a secure, CORS-enabled origin.
    webkit_security_manager_register_uri_scheme_as_secure(security, kScheme);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kScheme);
    return context;
}

WebKitUserContentManager* NewPageChannel() {
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitUserScript* script =
        webkit_user_script_new(kChannelScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    webkit_user_content_manager_register_script_message_handler(content, kMessageHandler);
    return content;
}

}  // namespace quillon::lnx
