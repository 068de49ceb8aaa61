#include "platform/linux/gtk_shell.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/linux/desktop_instance.h"
#include "platform/linux/gtk_page.h"
#include "platform/linux/gtk_tray.h"

namespace quillon::lnx {

namespace {

namespace fs = std::filesystem;

constexpr int kWindowWidth = 850;
constexpr int kWindowHeight = 750;
constexpr char kWindowTitle[] = "Quillon";
constexpr char kStartPath[] = "/index.html";
// Same floor as the headless loop: a shorter period would only spin.
constexpr uint32_t kMinTimerPeriodMs = 10;
// A hidden start (at log-on, from the startup entry) may come before the desktop's panel: it
// waits this long for a tray to put its icon in before it shows the window instead.
constexpr int kHiddenStartTrayWaitMs = 10000;
// A web process that keeps dying is not brought back forever.
constexpr int kMaxPageRestarts = 5;

bool StartsWith(const char* text, const char* prefix) {
    return text != nullptr && g_str_has_prefix(text, prefix);
}

}  // namespace

bool DesktopDisplayPresent() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

struct GtkShell::Impl {
    explicit Impl(GtkShellOptions o)
        : options(std::move(o)),
          iconFile(options.iconFile.empty() ? options.uiFolder / "quillon.svg" : options.iconFile),
          tray(iconFile),
          instance(options.instanceFolder) {}

    struct TimerTag {
        Impl* impl;
        int id;
    };

    const GtkShellOptions options;
    const fs::path iconFile;
    std::string startFailure;

    // UI thread only.
    ShellListener* listener = nullptr;
    GMainLoop* loop = nullptr;
    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    std::string startUri;
    bool quit = false;
    bool startHidden = false;
    int exitCode = 0;
    bool destroyed = false;
    bool pageReady = false;
    int pageRestarts = 0;
    int width = 0;
    int height = 0;
    std::map<int, guint> timers;
    guint signalSources[2] = {0, 0};
    GtkTray tray;
    guint menuRequest = 0;
    DesktopInstance instance;

    // PostToSelf: any thread.
    std::mutex postMutex;
    std::deque<uint32_t> posted;
    guint postSource = 0;

    bool CreateWindow();
    void Print(const std::string& line);
    void LoadStartPage();
    void RemoveTimers();
    void RemoveSignalSources();
    void RequestTrayMenu();
    void ComeForward();

    static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                gpointer data);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data);
    static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                       gpointer data);
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data);
    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data);
    static void OnWindowDestroy(GtkWidget*, gpointer data);
    static void OnSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer data);
    static gboolean OnTimerFired(gpointer data);
    static gboolean OnPostedMessages(gpointer data);
    static gboolean OnExitSignal(gpointer data);
    static gboolean OnMenuRequest(gpointer data);
};

void GtkShell::Impl::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                     gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    if (impl.destroyed || impl.view == nullptr) return;
    // Only our own page speaks to the application.
    if (!StartsWith(webkit_web_view_get_uri(impl.view), kPageOrigin)) return;
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_string(value)) return;
    gchar* text = jsc_value_to_string(value);
    const std::string message = text != nullptr ? text : "";
    g_free(text);
    impl.listener->OnPageMessage(message);
}

void GtkShell::Impl::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    if (impl.destroyed) return;
    if (event == WEBKIT_LOAD_STARTED && impl.pageReady) {
        // A reload: the page that received posts is going.
        impl.pageReady = false;
        impl.listener->OnPageGone();
        return;
    }
    if (event != WEBKIT_LOAD_FINISHED || impl.pageReady) return;
    if (!StartsWith(webkit_web_view_get_uri(view), kPageOrigin)) return;
    impl.pageReady = true;
    impl.listener->OnPageReady();
}

void GtkShell::Impl::OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                            gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    if (impl.destroyed) return;
    if (impl.pageReady) {
        impl.pageReady = false;
        impl.listener->OnPageGone();
    }
    // An empty window helps nobody: the page comes back as it started.
    if (!impl.destroyed && ++impl.pageRestarts <= kMaxPageRestarts) impl.LoadStartPage();
}

gboolean GtkShell::Impl::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                        WebKitPolicyDecisionType type, gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    const bool own = StartsWith(uri, kPageOrigin);
    if (own && type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
    // The window shows only the page; links to the web (release notes) open in the browser.
    if (!own && webkit_navigation_action_is_user_gesture(action) &&
        (StartsWith(uri, "https://") || StartsWith(uri, "http://"))) {
        gtk_show_uri_on_window(GTK_WINDOW(impl.window), uri, GDK_CURRENT_TIME, nullptr);
    }
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

gboolean GtkShell::Impl::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    if (!impl.destroyed) impl.listener->OnClose();
    // The core decides whether closing hides or ends; GTK never destroys on its own.
    return TRUE;
}

void GtkShell::Impl::OnWindowDestroy(GtkWidget*, gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    if (impl.destroyed) return;
    impl.destroyed = true;
    impl.pageReady = false;
    impl.RemoveTimers();
    impl.listener->OnDestroy();
    impl.window = nullptr;
    impl.view = nullptr;
}

void GtkShell::Impl::OnSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    if (impl.destroyed || (allocation->width == impl.width && allocation->height == impl.height)) {
        return;
    }
    impl.width = allocation->width;
    impl.height = allocation->height;
    impl.listener->OnResize(impl.width, impl.height);
}

gboolean GtkShell::Impl::OnTimerFired(gpointer data) {
    const TimerTag& tag = *static_cast<TimerTag*>(data);
    // The listener may kill or re-arm this very timer; GLib keeps the tag alive until we return.
    if (!tag.impl->destroyed) tag.impl->listener->OnTimer(tag.id);
    return G_SOURCE_CONTINUE;
}

gboolean GtkShell::Impl::OnPostedMessages(gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    std::deque<uint32_t> messages;
    {
        std::lock_guard<std::mutex> lock(impl.postMutex);
        messages.swap(impl.posted);
        impl.postSource = 0;
    }
    for (uint32_t message : messages) {
        if (!impl.destroyed) impl.listener->OnPosted(message);
    }
    return G_SOURCE_REMOVE;
}

gboolean GtkShell::Impl::OnExitSignal(gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    // With no watch left GLib puts the default action back: a second signal kills.
    impl.RemoveSignalSources();
    if (!impl.destroyed && impl.window != nullptr) gtk_widget_destroy(impl.window);
    return G_SOURCE_REMOVE;
}

// Another run on the same data was started: the window comes to the front.
void GtkShell::Impl::ComeForward() {
    if (destroyed || window == nullptr || listener == nullptr) return;
    if (gtk_widget_get_visible(window)) {
        gtk_window_present(GTK_WINDOW(window));
    } else {
        // The core decides how a hidden window comes back: as from its tray icon.
        listener->OnTrayMouse(kTrayLeftButtonUp);
    }
}

// Asked from an idle callback: the core may be in the middle of the call that changed the menu.
void GtkShell::Impl::RequestTrayMenu() {
    if (tray.Shown() && menuRequest == 0) menuRequest = g_idle_add(OnMenuRequest, this);
}

gboolean GtkShell::Impl::OnMenuRequest(gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    impl.menuRequest = 0;
    if (!impl.destroyed && impl.tray.Shown()) impl.listener->OnTrayMouse(kTrayRightButtonUp);
    return G_SOURCE_REMOVE;
}

void GtkShell::Impl::RemoveSignalSources() {
    for (guint& source : signalSources) {
        if (source != 0) g_source_remove(source);
        source = 0;
    }
}

void GtkShell::Impl::RemoveTimers() {
    for (const auto& [id, source] : timers) g_source_remove(source);
    timers.clear();
}

void GtkShell::Impl::LoadStartPage() {
    if (view != nullptr) webkit_web_view_load_uri(view, startUri.c_str());
}

void GtkShell::Impl::Print(const std::string& line) {
    if (options.out == nullptr) return;
    std::fprintf(options.out, "%s\n", line.c_str());
    std::fflush(options.out);
}

bool GtkShell::Impl::CreateWindow() {
    // The DMA-BUF renderer costs the web process a lot of memory and buys nothing here.
    g_setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", FALSE);
    if (!gtk_init_check(nullptr, nullptr)) {
        startFailure = "cannot open the display";
        return false;
    }
    WebKitWebContext* context =
        NewPageContext(options.uiFolder, options.pageDataFolder, options.pageCacheFolder);
    WebKitUserContentManager* content = NewPageChannel();
    g_signal_connect(content, "script-message-received::quillon", G_CALLBACK(OnScriptMessage),
                     this);

    view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                        "user-content-manager", content, nullptr));
    g_object_unref(context);
    g_object_unref(content);
    g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
    g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);

    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), kWindowTitle);
    gtk_window_set_default_size(GTK_WINDOW(window), kWindowWidth, kWindowHeight);
    std::error_code ec;
    if (fs::is_regular_file(iconFile, ec)) {
        gtk_window_set_icon_from_file(GTK_WINDOW(window), iconFile.c_str(), nullptr);
    }
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    g_signal_connect(window, "destroy", G_CALLBACK(OnWindowDestroy), this);
    g_signal_connect(window, "size-allocate", G_CALLBACK(OnSizeAllocate), this);
    gtk_widget_show(GTK_WIDGET(view));
    return true;
}

GtkShell::GtkShell(GtkShellOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

GtkShell::~GtkShell() {
    if (impl_->menuRequest != 0) g_source_remove(impl_->menuRequest);
    std::lock_guard<std::mutex> lock(impl_->postMutex);
    if (impl_->postSource != 0) g_source_remove(impl_->postSource);
    impl_->postSource = 0;
}

bool GtkShell::HandOverToRunningInstance() {
    Impl& impl = *impl_;
    return impl.instance.HandOver([&impl] { impl.ComeForward(); });
}

int GtkShell::Run(ShellListener& listener, bool startHidden) {
    Impl& impl = *impl_;
    impl.listener = &listener;
    impl.startHidden = startHidden;
    impl.startFailure.clear();
    if (!DesktopDisplayPresent()) {
        impl.startFailure =
            "no display to open a window on (DISPLAY and WAYLAND_DISPLAY are unset)";
        return -1;
    }
    impl.startUri = DesktopPageUri(kStartPath);
    std::error_code ec;
    if (!fs::is_regular_file(impl.options.uiFolder / "index.html", ec)) {
        impl.startFailure =
            "the page is missing: no index.html in " + impl.options.uiFolder.string();
        return -1;
    }
    if (!impl.CreateWindow()) return -1;
    if (impl.options.catchSignals) {
        impl.signalSources[0] = g_unix_signal_add(SIGINT, Impl::OnExitSignal, &impl);
        impl.signalSources[1] = g_unix_signal_add(SIGTERM, Impl::OnExitSignal, &impl);
    }

    // As a desktop window is created, then shown: OnCreate comes before any other event.
    listener.OnCreate();
    if (!impl.destroyed && !startHidden) gtk_widget_show(impl.window);
    if (!impl.destroyed) impl.LoadStartPage();
    if (!impl.quit) {
        impl.loop = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(impl.loop);
        g_main_loop_unref(impl.loop);
        impl.loop = nullptr;
    }

    impl.RemoveSignalSources();
    impl.RemoveTimers();
    // A Quit without DestroyWindow leaves the window: it goes without a second OnDestroy.
    if (impl.window != nullptr) {
        impl.destroyed = true;
        gtk_widget_destroy(impl.window);
        impl.window = nullptr;
        impl.view = nullptr;
    }
    return impl.exitCode;
}

std::string GtkShell::StartFailure() const {
    return impl_->startFailure;
}

void GtkShell::Quit(int exitCode) {
    impl_->quit = true;
    impl_->exitCode = exitCode;
    if (impl_->loop != nullptr) g_main_loop_quit(impl_->loop);
}

void GtkShell::DestroyWindow() {
    // The "destroy" handler runs OnDestroy before gtk_widget_destroy returns.
    if (!impl_->destroyed && impl_->window != nullptr) gtk_widget_destroy(impl_->window);
}

void GtkShell::ShowWindow(bool visible) {
    if (impl_->destroyed || impl_->window == nullptr) return;
    if (visible) {
        gtk_widget_show(impl_->window);
        gtk_window_present(GTK_WINDOW(impl_->window));
    } else {
        gtk_widget_hide(impl_->window);
    }
    // The menu's Hide/Show follows.
    impl_->RequestTrayMenu();
}

void GtkShell::SetTimer(int timerId, uint32_t periodMs) {
    Impl& impl = *impl_;
    if (impl.destroyed) return;
    KillTimer(timerId);
    const uint32_t period = periodMs < kMinTimerPeriodMs ? kMinTimerPeriodMs : periodMs;
    impl.timers[timerId] = g_timeout_add_full(
        G_PRIORITY_DEFAULT, period, Impl::OnTimerFired, new Impl::TimerTag{&impl, timerId},
        [](gpointer tag) { delete static_cast<Impl::TimerTag*>(tag); });
}

void GtkShell::KillTimer(int timerId) {
    const auto it = impl_->timers.find(timerId);
    if (it == impl_->timers.end()) return;
    g_source_remove(it->second);
    impl_->timers.erase(it);
}

void GtkShell::PostToSelf(uint32_t message) {
    Impl& impl = *impl_;
    std::lock_guard<std::mutex> lock(impl.postMutex);
    impl.posted.push_back(message);
    // One idle source drains everything queued by then; the default context is thread-safe.
    if (impl.postSource == 0) {
        impl.postSource =
            g_idle_add_full(G_PRIORITY_DEFAULT, Impl::OnPostedMessages, &impl, nullptr);
    }
}

bool GtkShell::AddTrayIcon(const std::string& tip) {
    Impl& impl = *impl_;
    const bool shown = impl.tray.Add(
        tip,
        [&impl](int command) {
            if (impl.destroyed) return;
            impl.listener->OnCommand(command);
            impl.RequestTrayMenu();
        },
        impl.startHidden ? kHiddenStartTrayWaitMs : 0);
    if (shown) impl.RequestTrayMenu();
    return shown;
}

void GtkShell::RemoveTrayIcon() {
    if (impl_->menuRequest != 0) g_source_remove(impl_->menuRequest);
    impl_->menuRequest = 0;
    impl_->tray.Remove();
}

void GtkShell::ShowTrayMenu(const std::vector<TrayMenuItem>& items) {
    impl_->tray.SetMenu(items);
}

void GtkShell::ShowTrayBalloon(const std::string& title, const std::string& text) {
    if (!impl_->tray.Notify(title, text)) impl_->Print(title + ": " + text);
}

bool GtkShell::StartPage(const std::string& startUrl) {
    Impl& impl = *impl_;
    const std::string uri = DesktopPageUri(startUrl);
    if (uri.empty() || impl.view == nullptr) return false;
    std::error_code ec;
    if (!fs::is_regular_file(impl.options.uiFolder / uri.substr(sizeof(kPageOrigin) - 1), ec)) {
        return false;
    }
    // Run loaded the start page already; loading it again would only flap the page's events.
    const char* shown = webkit_web_view_get_uri(impl.view);
    if (shown != nullptr && uri == shown) return true;
    webkit_web_view_load_uri(impl.view, uri.c_str());
    return true;
}

void GtkShell::PostToPage(const std::string& json) {
    Impl& impl = *impl_;
    if (!impl.pageReady || impl.view == nullptr) return;
    // JSON text is a JavaScript expression: the page gets the parsed value, as the other
    // desktop front ends deliver it.
    const std::string script = "window.__quillonDeliver(" + json + ");";
    webkit_web_view_evaluate_javascript(impl.view, script.c_str(),
                                        static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
}

}  // namespace quillon::lnx
