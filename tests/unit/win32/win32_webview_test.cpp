// The window's web view driven through its completion handlers by a fake runtime: what it
// sets up once both objects arrive, what it drops before, how a failure ends it for good, the
// page's messages, and that every reference it takes is given back. The real runtime is not
// installed under Wine: there the loader must only say so.
#include "platform/win32/win32_webview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "fakes/log_capture.h"
#include "fakes/temp_dir.h"
#include "fakes/webview2_stubs.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_webview_loader.h"
#include "ui/webview_host.h"

namespace quillon::win32 {
namespace {

using EnvironmentHandler = ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;
using ControllerHandler = ICoreWebView2CreateCoreWebView2ControllerCompletedHandler;

// IUnknown for a fake on the test's stack: counts references (the first is the test's own)
// and answers for IUnknown and the interfaces listed.
template <class Base>
class Counted : public Base {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        const bool known = IsEqualIID(iid, IID_IUnknown) ||
                           std::any_of(interfaces.begin(), interfaces.end(),
                                       [&](const IID& own) { return IsEqualIID(iid, own); });
        *object = known ? static_cast<Base*>(this) : nullptr;
        if (!known) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    std::vector<IID> interfaces;
    ULONG refs = 1;
};

struct FakeSettings : Counted<SettingsStub> {
    FakeSettings() { interfaces = {kIidSettings, kIidSettings5}; }
    STDMETHODIMP put_AreDevToolsEnabled(BOOL on) override { return Set("devTools", on); }
    STDMETHODIMP put_AreDefaultContextMenusEnabled(BOOL on) override {
        return Set("contextMenus", on);
    }
    STDMETHODIMP put_IsStatusBarEnabled(BOOL on) override { return Set("statusBar", on); }
    STDMETHODIMP put_IsZoomControlEnabled(BOOL on) override { return Set("zoomControl", on); }
    STDMETHODIMP put_IsPinchZoomEnabled(BOOL on) override { return Set("pinchZoom", on); }
    HRESULT Set(const char* name, BOOL on) {
        values[name] = on;
        return S_OK;
    }
    std::map<std::string, BOOL> values;
};

struct FakeWebView : Counted<WebViewStub> {
    explicit FakeWebView(FakeSettings& s) : settings(s) {
        interfaces = {kIidCoreWebView2, kIidCoreWebView2_2, kIidCoreWebView2_3};
    }
    STDMETHODIMP get_Settings(ICoreWebView2Settings** out) override {
        settings.AddRef();
        *out = &settings;
        return S_OK;
    }
    STDMETHODIMP Navigate(LPCWSTR uri) override {
        navigated.push_back(uri);
        return S_OK;
    }
    STDMETHODIMP PostWebMessageAsJson(LPCWSTR json) override {
        posted.push_back(json);
        return S_OK;
    }
    STDMETHODIMP add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                                        EventRegistrationToken* token) override {
        messageHandler.Reset(handler);
        token->value = 42;
        return S_OK;
    }
    STDMETHODIMP remove_WebMessageReceived(EventRegistrationToken token) override {
        removedTokens.push_back(token.value);
        return S_OK;
    }
    STDMETHODIMP add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* handler,
                                   EventRegistrationToken* token) override {
        processHandler.Reset(handler);
        token->value = 43;
        return S_OK;
    }
    STDMETHODIMP remove_ProcessFailed(EventRegistrationToken token) override {
        return remove_WebMessageReceived(token);
    }
    STDMETHODIMP add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* handler,
                                         EventRegistrationToken* token) override {
        navigationHandler.Reset(handler);
        token->value = 44;
        return S_OK;
    }
    STDMETHODIMP remove_NavigationCompleted(EventRegistrationToken token) override {
        return remove_WebMessageReceived(token);
    }
    STDMETHODIMP get_Source(LPWSTR* out) override {
        const std::wstring uri = navigated.empty() ? L"about:blank" : navigated.back();
        *out = static_cast<LPWSTR>(CoTaskMemAlloc((uri.size() + 1) * sizeof(wchar_t)));
        std::copy_n(uri.c_str(), uri.size() + 1, *out);
        return S_OK;
    }
    STDMETHODIMP Reload() override {
        ++reloads;
        return S_OK;
    }
    STDMETHODIMP SetVirtualHostNameToFolderMapping(
        LPCWSTR host, LPCWSTR folder, COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND kind) override {
        mappings.push_back({host, folder, std::to_wstring(kind)});
        return S_OK;
    }

    FakeSettings& settings;
    std::vector<std::wstring> navigated, posted;
    std::vector<std::vector<std::wstring>> mappings;  // host, folder, access kind
    ComRef<ICoreWebView2WebMessageReceivedEventHandler> messageHandler;
    ComRef<ICoreWebView2ProcessFailedEventHandler> processHandler;
    ComRef<ICoreWebView2NavigationCompletedEventHandler> navigationHandler;
    std::vector<INT64> removedTokens;
    int reloads = 0;
};

struct FakeController : Counted<ControllerStub> {
    explicit FakeController(FakeWebView& w) : webView(w) { interfaces = {kIidController}; }
    STDMETHODIMP put_Bounds(RECT r) override {
        bounds.push_back({r.left, r.top, r.right, r.bottom});
        return S_OK;
    }
    STDMETHODIMP get_CoreWebView2(ICoreWebView2** out) override {
        webView.AddRef();
        *out = &webView;
        return S_OK;
    }
    STDMETHODIMP Close() override {
        ++closed;
        return S_OK;
    }
    FakeWebView& webView;
    std::vector<std::vector<LONG>> bounds;
    int closed = 0;
};

struct FakeEnvironment : Counted<ICoreWebView2Environment> {
    FakeEnvironment() { interfaces = {kIidEnvironment}; }
    STDMETHODIMP CreateCoreWebView2Controller(HWND parent, ControllerHandler* h) override {
        window = parent;
        handler.Reset(h);
        return S_OK;
    }
    HWND window = nullptr;
    ComRef<ControllerHandler> handler;
};

struct FakeMessage : Counted<ICoreWebView2WebMessageReceivedEventArgs> {
    FakeMessage(bool isString, std::wstring t) : string(isString), text(std::move(t)) {}
    STDMETHODIMP get_Source(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_WebMessageAsJson(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP TryGetWebMessageAsString(LPWSTR* out) override {
        *out = nullptr;
        if (!string) return E_INVALIDARG;
        const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        std::copy_n(text.c_str(), text.size() + 1, *out);
        return S_OK;
    }
    bool string;
    std::wstring text;
};

struct FakeProcessFailure : Counted<ICoreWebView2ProcessFailedEventArgs> {
    explicit FakeProcessFailure(INT32 k) : kind(k) {}
    STDMETHODIMP get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* out) override {
        *out = static_cast<COREWEBVIEW2_PROCESS_FAILED_KIND>(kind);
        return S_OK;
    }
    INT32 kind;
};

struct FakeNavigation : Counted<ICoreWebView2NavigationCompletedEventArgs> {
    explicit FakeNavigation(BOOL s) : success(s) {}
    STDMETHODIMP get_IsSuccess(BOOL* out) override {
        *out = success;
        return S_OK;
    }
    BOOL success;
};

// Lets go of the one reference `ref` holds; what is left afterwards.
template <class T>
ULONG LastRelease(ComRef<T>& ref) {
    T* object = ref.get();
    object->AddRef();
    ref.Clear();
    return object->Release();
}

// Puts the working folder back, so that the folder a test moved into can be removed.
struct WorkingFolderKept {
    ~WorkingFolderKept() { std::filesystem::current_path(saved); }
    std::filesystem::path saved = std::filesystem::current_path();
};

struct Rig {
    Rig() {
        // A window without a screen: its client area is all the control needs.
        window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 320, 240, HWND_MESSAGE, nullptr,
                                 nullptr, nullptr);
        view = std::make_unique<Win32WebView>();
    }
    ~Rig() {
        view.reset();
        if (window != nullptr) DestroyWindow(window);
    }
    bool Create(const std::string& uiFolder) {
        Win32WebViewEvents events;
        events.ready = [this] { ++readyCalls; };
        events.gone = [this] { ++goneCalls; };
        events.arrived = [this] { ++arrivedCalls; };
        events.message = [this](const std::string& m) { messages.push_back(m); };
        return view->Create(window, uiFolder, "C:\\Users\\me\\AppData\\Local\\Quillon\\WebView2",
                            std::move(events),
                            [this](const std::string& folder, EnvironmentHandler* handler) {
                                userDataFolder = folder;
                                if (SUCCEEDED(factoryAnswer)) environmentHandler.Reset(handler);
                                return factoryAnswer;
                            });
    }
    void EnvironmentArrives(HRESULT hr = S_OK) {
        environmentHandler->Invoke(hr, SUCCEEDED(hr) ? &environment : nullptr);
    }
    void ControllerArrives(HRESULT hr = S_OK) {
        environment.handler->Invoke(hr, SUCCEEDED(hr) ? &controller : nullptr);
    }
    void PageSends(bool isString, const std::wstring& text) {
        FakeMessage message(isString, text);
        webView.messageHandler->Invoke(&webView, &message);
        EXPECT_EQ(message.refs, 1u);
    }
    void ProcessFails(INT32 kind) {
        FakeProcessFailure failure(kind);
        webView.processHandler->Invoke(&webView, &failure);
    }
    void NavigationCompletes(BOOL success) {
        FakeNavigation navigation(success);
        webView.navigationHandler->Invoke(&webView, &navigation);
    }

    sim::VirtualClock clock;
    sim::SimSystem system;
    test::TestLog log{system, clock};
    FakeSettings settings;
    FakeWebView webView{settings};
    FakeController controller{webView};
    FakeEnvironment environment;
    HRESULT factoryAnswer = S_OK;
    std::string userDataFolder;
    ComRef<EnvironmentHandler> environmentHandler;
    HWND window = nullptr;
    int readyCalls = 0;
    int goneCalls = 0;
    int arrivedCalls = 0;
    std::vector<std::string> messages;
    std::unique_ptr<Win32WebView> view;
};

TEST(Win32WebView, SetsUpOnceBothObjectsArriveAndDropsPostsBefore) {
    // The ui folder follows the executable, wherever the process was started from.
    test::TempDir elsewhere;
    WorkingFolderKept kept;
    std::filesystem::current_path(elsewhere.path());
    Win32System system;
    const std::string uiFolder = UiFolder(system);
    const std::string exe = system.ExecutablePath();
    EXPECT_EQ(uiFolder, exe.substr(0, exe.rfind('\\')) + "\\ui");

    Rig rig;
    ASSERT_NE(rig.window, nullptr);
    ASSERT_TRUE(rig.Create(uiFolder));
    EXPECT_EQ(rig.userDataFolder, "C:\\Users\\me\\AppData\\Local\\Quillon\\WebView2");
    rig.view->PostJson("{\"early\":1}");
    rig.view->Resize(RECT{0, 0, 10, 10});
    rig.view->Navigate("https://quillon.local/index.html");
    rig.EnvironmentArrives();
    EXPECT_EQ(rig.environment.window, rig.window);
    rig.view->PostJson("{\"early\":2}");
    EXPECT_FALSE(rig.view->Ready());
    EXPECT_EQ(rig.readyCalls, 0);

    rig.ControllerArrives();
    EXPECT_TRUE(rig.view->Ready());
    EXPECT_EQ(rig.readyCalls, 1);
    ASSERT_EQ(rig.webView.mappings.size(), 1u);
    EXPECT_EQ(rig.webView.mappings[0],
              (std::vector<std::wstring>{L"quillon.local", Wide(uiFolder), L"1"}));
    EXPECT_EQ(rig.settings.values, (std::map<std::string, BOOL>{{"devTools", TRUE},
                                                                {"contextMenus", TRUE},
                                                                {"statusBar", FALSE},
                                                                {"zoomControl", FALSE},
                                                                {"pinchZoom", FALSE}}));
    EXPECT_EQ(rig.controller.bounds, (std::vector<std::vector<LONG>>{{0, 0, 320, 240}}));
    EXPECT_TRUE(rig.webView.posted.empty());
    EXPECT_TRUE(rig.webView.navigated.empty());

    rig.view->Navigate("https://quillon.local/index.html");
    rig.view->PostJson("{\"type\":\"networkState\",\"name\":\"Café\"}");
    rig.view->Resize(RECT{0, 0, 850, 750});
    EXPECT_EQ(rig.webView.navigated,
              std::vector<std::wstring>{L"https://quillon.local/index.html"});
    EXPECT_EQ(rig.webView.posted,
              std::vector<std::wstring>{L"{\"type\":\"networkState\",\"name\":\"Caf\u00e9\"}"});
    EXPECT_EQ(rig.controller.bounds.back(), (std::vector<LONG>{0, 0, 850, 750}));
    EXPECT_EQ(rig.log.Lines({"WebView2", "virtual host"}),
              std::vector<std::string>{"[INFO] WebView2 environment created successfully"});
}

TEST(Win32WebView, OnlyStringMessagesReachTheAction) {
    Rig rig;
    rig.Create("C:\\app\\ui");
    rig.EnvironmentArrives();
    rig.ControllerArrives();
    ASSERT_TRUE(rig.webView.messageHandler);
    rig.PageSends(true, L"{\"action\":\"refresh\",\"note\":\"\u00fc \u2615\"}");
    rig.PageSends(false, L"{\"action\":\"object\"}");
    rig.PageSends(true, L"");
    EXPECT_EQ(rig.messages,
              (std::vector<std::string>{
                  "{\"action\":\"refresh\",\"note\":\"\xc3\xbc \xe2\x98\x95\"}", ""}));
}

TEST(Win32WebView, AFailureEndsItForGood) {
    {
        Rig rig;
        rig.factoryAnswer = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        EXPECT_FALSE(rig.Create("C:\\app\\ui"));
        EXPECT_EQ(rig.log.Lines({"failed"}),
                  std::vector<std::string>{
                      "[ERROR] CreateCoreWebView2EnvironmentWithOptions failed: 0x80070002"});
    }
    {
        Rig rig;
        ASSERT_TRUE(rig.Create("C:\\app\\ui"));
        rig.EnvironmentArrives(E_FAIL);
        EXPECT_FALSE(rig.Create("C:\\app\\ui"));  // never tried again
        EXPECT_EQ(rig.environment.refs, 1u);
        EXPECT_FALSE(rig.view->Ready());
        EXPECT_EQ(
            rig.log.Lines({"Failed"}),
            std::vector<std::string>{"[ERROR] Failed to create WebView2 environment: 0x80004005"});
    }
    Rig rig;
    rig.Create("C:\\app\\ui");
    rig.EnvironmentArrives();
    rig.ControllerArrives(E_ACCESSDENIED);
    rig.view->PostJson("{}");
    rig.view->Resize(RECT{0, 0, 10, 10});
    rig.view->Navigate("https://quillon.local/index.html");
    EXPECT_FALSE(rig.view->Ready());
    EXPECT_EQ(rig.readyCalls, 0);
    EXPECT_EQ(rig.controller.refs, 1u);
    EXPECT_TRUE(rig.controller.bounds.empty());
    EXPECT_TRUE(rig.webView.posted.empty() && rig.webView.navigated.empty());
    EXPECT_EQ(rig.log.Lines({"Failed"}),
              std::vector<std::string>{"[ERROR] Failed to create WebView2 controller: 0x80070005"});
}

TEST(Win32WebView, KeepsThePageUpWhenTheRuntimesProcessesFail) {
    Rig rig;
    rig.Create("C:\\app\\ui");
    rig.EnvironmentArrives();
    rig.ControllerArrives();
    const std::wstring page = L"https://quillon.local/index.html";
    rig.view->Navigate(Narrow(page));
    // Our page loaded (and a failed load, and another site's page, are not ours to tell of).
    rig.NavigationCompletes(TRUE);
    rig.NavigationCompletes(FALSE);
    rig.webView.navigated.push_back(L"https://example.com/");
    rig.NavigationCompletes(TRUE);
    rig.webView.navigated.pop_back();
    EXPECT_EQ(rig.arrivedCalls, 1);

    // A page process that died or hangs: the page is loaded again, the control stays.
    rig.ProcessFails(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
    rig.ProcessFails(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE);
    rig.ProcessFails(6);  // the GPU process: the runtime's own business
    EXPECT_EQ(rig.webView.reloads, 2);
    EXPECT_TRUE(rig.view->Ready());
    EXPECT_EQ(rig.goneCalls, 0);

    // The browser process took the control with it: a new one shows the same page.
    rig.ProcessFails(COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
    EXPECT_EQ(rig.goneCalls, 1);
    EXPECT_FALSE(rig.view->Ready());
    EXPECT_EQ(rig.controller.closed, 1);
    EXPECT_EQ(rig.webView.removedTokens, (std::vector<INT64>{42, 43, 44}));
    rig.view->PostJson("{}");
    EXPECT_TRUE(rig.webView.posted.empty());
    rig.EnvironmentArrives();
    rig.ControllerArrives();
    EXPECT_TRUE(rig.view->Ready());
    EXPECT_EQ(rig.readyCalls, 2);
    EXPECT_EQ(rig.webView.navigated, (std::vector<std::wstring>{page, page}));

    // Five restarts in all, then it gives up rather than loop.
    rig.ProcessFails(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
    rig.ProcessFails(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
    rig.ProcessFails(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
    EXPECT_EQ(rig.webView.reloads, 4);
    rig.ProcessFails(COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
    EXPECT_EQ(rig.goneCalls, 2);
    EXPECT_EQ(
        rig.log.Lines({"process"}),
        (std::vector<std::string>{
            "[WARN] WebView2 page process failed (kind 1) - reloading",
            "[WARN] WebView2 page process failed (kind 2) - reloading",
            "[ERROR] WebView2 browser process exited - starting it again",
            "[WARN] WebView2 page process failed (kind 1) - reloading",
            "[WARN] WebView2 page process failed (kind 1) - reloading",
            "[ERROR] WebView2 page process failed again (kind 1) - giving up after 5 restarts",
            "[ERROR] WebView2 browser process failed again (kind 0) - giving up after 5 "
            "restarts"}));
}

TEST(Win32WebView, AnOlderRuntimeStillGetsReady) {
    Rig rig;
    rig.webView.interfaces = {kIidCoreWebView2, kIidCoreWebView2_2};
    rig.settings.interfaces = {kIidSettings};
    rig.Create("C:\\app\\ui");
    rig.EnvironmentArrives();
    rig.ControllerArrives();
    EXPECT_TRUE(rig.view->Ready());
    EXPECT_TRUE(rig.webView.mappings.empty());
    EXPECT_EQ(rig.settings.values.count("pinchZoom"), 0u);
    EXPECT_EQ(rig.settings.values.size(), 4u);
    EXPECT_EQ(rig.log.Lines({"ICoreWebView2_3"}),
              std::vector<std::string>{
                  "[WARN] Failed to get ICoreWebView2_3 for virtual host mapping (0x80004002)"});
}

TEST(Win32WebView, GivesBackEveryReferenceAndOutlivesNoCallback) {
    Rig rig;
    rig.Create("C:\\app\\ui");
    rig.EnvironmentArrives();
    // The handlers answer for their own interface only.
    void* object = nullptr;
    EXPECT_EQ(rig.environment.handler->QueryInterface(kIidEnvironmentCompletedHandler, &object),
              E_NOINTERFACE);
    ASSERT_EQ(rig.environment.handler->QueryInterface(kIidControllerCompletedHandler, &object),
              S_OK);
    static_cast<IUnknown*>(object)->Release();
    rig.ControllerArrives();
    rig.PageSends(true, L"{}");
    rig.view.reset();

    EXPECT_EQ(rig.webView.removedTokens, (std::vector<INT64>{42, 43, 44}));
    EXPECT_EQ(rig.controller.closed, 1);
    for (ULONG refs :
         {rig.environment.refs, rig.controller.refs, rig.webView.refs, rig.settings.refs}) {
        EXPECT_EQ(refs, 1u);
    }
    // A late callback finds nobody and does nothing; the last release frees each handler.
    EXPECT_EQ(rig.environmentHandler->Invoke(S_OK, &rig.environment), S_OK);
    EXPECT_EQ(rig.environment.refs, 1u);
    EXPECT_EQ(LastRelease(rig.environmentHandler), 0u);
    EXPECT_EQ(LastRelease(rig.environment.handler), 0u);
    EXPECT_EQ(LastRelease(rig.webView.messageHandler), 0u);
    EXPECT_EQ(LastRelease(rig.webView.processHandler), 0u);
    EXPECT_EQ(LastRelease(rig.webView.navigationHandler), 0u);
}

TEST(Win32WebViewLoader, NoRuntimeUnderWine) {
    EXPECT_EQ(WebViewRuntimeVersion(), "");
    Rig rig;  // for its log
    Win32WebView view;
    EXPECT_FALSE(view.Create(nullptr, "C:\\app\\ui", "", Win32WebViewEvents{}));
    EXPECT_FALSE(view.Ready());
    EXPECT_EQ(rig.log.Count("CreateCoreWebView2EnvironmentWithOptions failed: 0x8007007E"), 1);
    EXPECT_EQ(LoaderPathBeside(L"C:\\Program Files\\Quillon\\quillon.exe"),
              L"C:\\Program Files\\Quillon\\WebView2Loader.dll");
    EXPECT_EQ(LoaderPathBeside(L"quillon.exe"), L"");
}

}  // namespace
}  // namespace quillon::win32
