#include "platform/win32/win32_webview.h"

#include <atomic>
#include <cwchar>
#include <utility>

#include "base/log.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_webview_loader.h"

namespace quillon::win32 {

namespace {

// HRESULTs are logged as their 32 bits.
unsigned Code(HRESULT hr) {
    return static_cast<unsigned>(hr);
}

}  // namespace

// One completion or event handler: a COM object of its own, counted, answering
// QueryInterface for IUnknown and its own interface, forwarding Invoke to the web view while
// it lives.
template <class Interface, class... Args>
class Win32WebView::Handler final : public Interface {
public:
    using Target = HRESULT (Win32WebView::*)(Args...);

    // Starts with one reference, the creator's.
    Handler(std::shared_ptr<Win32WebView*> self, Target target, const IID& iid)
        : self_(std::move(self)), target_(target), iid_(iid) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, iid_)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++count_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --count_;
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP Invoke(Args... args) override {
        Win32WebView* owner = *self_;
        return owner != nullptr ? (owner->*target_)(args...) : S_OK;
    }

private:
    ~Handler() = default;

    std::shared_ptr<Win32WebView*> self_;
    Target target_;
    const IID& iid_;
    std::atomic<ULONG> count_ = 1;
};

Win32WebView::Win32WebView() : self_(std::make_shared<Win32WebView*>(this)) {}

Win32WebView::~Win32WebView() {
    *self_ = nullptr;
    Release();
}

bool Win32WebView::Create(HWND window, const std::string& uiFolder,
                          const std::string& userDataFolder, Win32WebViewEvents events) {
    return Create(window, uiFolder, userDataFolder, std::move(events), CreateWebViewEnvironment);
}

bool Win32WebView::Create(HWND window, const std::string& uiFolder,
                          const std::string& userDataFolder, Win32WebViewEvents events,
                          EnvironmentFactory createEnvironment) {
    // One attempt per run: a failed control stays failed.
    if (created_) return false;
    created_ = true;
    window_ = window;
    uiFolder_ = Wide(uiFolder);
    userDataFolder_ = userDataFolder;
    events_ = std::move(events);
    createEnvironment_ = std::move(createEnvironment);
    return AskForEnvironment();
}

bool Win32WebView::AskForEnvironment() {
    using EnvironmentHandler = Handler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                                       HRESULT, ICoreWebView2Environment*>;
    ComRef<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> handler;
    handler.Attach(new EnvironmentHandler(self_, &Win32WebView::OnEnvironmentCreated,
                                          kIidEnvironmentCompletedHandler));
    const HRESULT hr =
        createEnvironment_ ? createEnvironment_(userDataFolder_, handler.get()) : E_POINTER;
    if (FAILED(hr)) {
        LogWrite(Error, "CreateCoreWebView2EnvironmentWithOptions failed: 0x%08X", Code(hr));
        return false;
    }
    return true;
}

HRESULT Win32WebView::OnEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment) {
    LogWrite(Debug, "Environment callback fired, result: 0x%08X", Code(result));
    if (SUCCEEDED(result) && environment == nullptr) result = E_POINTER;
    if (FAILED(result)) {
        LogWrite(Error, "Failed to create WebView2 environment: 0x%08X", Code(result));
        return result;
    }
    environment_.Reset(environment);
    LogWrite(Info, "WebView2 environment created successfully");

    using ControllerHandler = Handler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                                      HRESULT, ICoreWebView2Controller*>;
    ComRef<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> handler;
    handler.Attach(new ControllerHandler(self_, &Win32WebView::OnControllerCreated,
                                         kIidControllerCompletedHandler));
    const HRESULT hr = environment_->CreateCoreWebView2Controller(window_, handler.get());
    // Refused at once: the handler will never hear of it, so this is the controller's end.
    if (FAILED(hr)) LogWrite(Error, "Failed to create WebView2 controller: 0x%08X", Code(hr));
    return S_OK;
}

HRESULT Win32WebView::OnControllerCreated(HRESULT result, ICoreWebView2Controller* controller) {
    if (SUCCEEDED(result) && controller == nullptr) result = E_POINTER;
    ICoreWebView2* webView = nullptr;
    if (SUCCEEDED(result)) {
        result = controller->get_CoreWebView2(&webView);
        if (SUCCEEDED(result) && webView == nullptr) result = E_POINTER;
    }
    if (FAILED(result)) {
        LogWrite(Error, "Failed to create WebView2 controller: 0x%08X", Code(result));
        return result;
    }
    controller_.Reset(controller);
    webView_.Attach(webView);
    LogWrite(Debug, "WebView2 controller created");

    MapUiFolder();
    ApplySettings();
    AddHandlers();

    RECT client{};
    GetClientRect(window_, &client);
    controller_->put_Bounds(client);

    // Made again after the browser died: the page the old control showed comes back.
    if (!url_.empty()) webView_->Navigate(url_.c_str());
    if (events_.ready) events_.ready();
    return S_OK;
}

template <class Interface, class EventArgs>
std::optional<EventRegistrationToken> Win32WebView::Listen(
    HRESULT (STDMETHODCALLTYPE ICoreWebView2::*add)(Interface*, EventRegistrationToken*),
    HRESULT (Win32WebView::*target)(ICoreWebView2*, EventArgs*), const IID& iid) {
    ComRef<Interface> handler;
    handler.Attach(new Handler<Interface, ICoreWebView2*, EventArgs*>(self_, target, iid));
    EventRegistrationToken token{};
    if (FAILED((webView_.get()->*add)(handler.get(), &token))) return std::nullopt;
    return token;
}

void Win32WebView::AddHandlers() {
    messageToken_ = Listen(&ICoreWebView2::add_WebMessageReceived, &Win32WebView::OnWebMessage,
                           kIidWebMessageReceivedEventHandler);
    processToken_ = Listen(&ICoreWebView2::add_ProcessFailed, &Win32WebView::OnProcessFailed,
                           kIidProcessFailedEventHandler);
    navigationToken_ =
        Listen(&ICoreWebView2::add_NavigationCompleted, &Win32WebView::OnNavigationCompleted,
               kIidNavigationCompletedEventHandler);
}

void Win32WebView::Release() {
    if (webView_) {
        if (messageToken_) webView_->remove_WebMessageReceived(*messageToken_);
        if (processToken_) webView_->remove_ProcessFailed(*processToken_);
        if (navigationToken_) webView_->remove_NavigationCompleted(*navigationToken_);
    }
    messageToken_.reset();
    processToken_.reset();
    navigationToken_.reset();
    if (controller_) controller_->Close();
    webView_.Clear();
    controller_.Clear();
    environment_.Clear();
}

void Win32WebView::MapUiFolder() {
    HRESULT hr = S_OK;
    const ComRef<ICoreWebView2_3> mapper = webView_.Query<ICoreWebView2_3>(kIidCoreWebView2_3, &hr);
    if (!mapper) {
        // Without the mapping the start page cannot load; the rest still runs.
        LogWrite(Warn, "Failed to get ICoreWebView2_3 for virtual host mapping (0x%08X)",
                 Code(SUCCEEDED(hr) ? E_NOINTERFACE : hr));
        return;
    }
    mapper->SetVirtualHostNameToFolderMapping(kPageHostName, uiFolder_.c_str(),
                                              COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND_ALLOW);
}

void Win32WebView::ApplySettings() {
    ICoreWebView2Settings* raw = nullptr;
    if (FAILED(webView_->get_Settings(&raw)) || raw == nullptr) return;
    ComRef<ICoreWebView2Settings> settings;
    settings.Attach(raw);
    settings->put_AreDevToolsEnabled(TRUE);
    settings->put_AreDefaultContextMenusEnabled(TRUE);
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_IsZoomControlEnabled(FALSE);
    // Older runtimes have no pinch zoom setting.
    const ComRef<ICoreWebView2Settings5> touch =
        settings.Query<ICoreWebView2Settings5>(kIidSettings5);
    if (touch) touch->put_IsPinchZoomEnabled(FALSE);
}

HRESULT Win32WebView::OnWebMessage(ICoreWebView2* /*sender*/,
                                   ICoreWebView2WebMessageReceivedEventArgs* args) {
    if (args == nullptr) return S_OK;
    LPWSTR text = nullptr;
    // Fails for anything the page posted that is not a string: those reach nothing.
    if (FAILED(args->TryGetWebMessageAsString(&text)) || text == nullptr) return S_OK;
    const std::string message = Narrow(text);
    CoTaskMemFree(text);
    if (events_.message) events_.message(message);
    return S_OK;
}

HRESULT Win32WebView::OnProcessFailed(ICoreWebView2* /*sender*/,
                                      ICoreWebView2ProcessFailedEventArgs* args) {
    COREWEBVIEW2_PROCESS_FAILED_KIND kind{};
    if (args == nullptr || FAILED(args->get_ProcessFailedKind(&kind))) return S_OK;
    const bool browser = kind == COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
    // Other processes (frames of other sites, the GPU, helpers) the runtime restarts itself.
    if (!browser && kind != COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED &&
        kind != COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE) {
        return S_OK;
    }
    if (browser) {
        // The control went with it: nothing can be posted until a new one is made.
        Release();
        if (events_.gone) events_.gone();
    }
    if (restarts_ >= kMaxRestarts) {
        LogWrite(Error, "WebView2 %s process failed again (kind %d) - giving up after %d restarts",
                 browser ? "browser" : "page", static_cast<int>(kind), kMaxRestarts);
        return S_OK;
    }
    ++restarts_;
    if (browser) {
        LogWrite(Error, "WebView2 browser process exited - starting it again");
        AskForEnvironment();
    } else {
        LogWrite(Warn, "WebView2 page process failed (kind %d) - reloading",
                 static_cast<int>(kind));
        webView_->Reload();
    }
    return S_OK;
}

HRESULT Win32WebView::OnNavigationCompleted(ICoreWebView2* /*sender*/,
                                            ICoreWebView2NavigationCompletedEventArgs* args) {
    BOOL success = FALSE;
    if (args == nullptr || FAILED(args->get_IsSuccess(&success)) || !success) return S_OK;
    // Only the application's own page is told what the application knows.
    if (ShowsOwnPage() && events_.arrived) events_.arrived();
    return S_OK;
}

bool Win32WebView::ShowsOwnPage() {
    LPWSTR source = nullptr;
    if (!webView_ || FAILED(webView_->get_Source(&source)) || source == nullptr) return false;
    const std::wstring origin = std::wstring(L"https://") + kPageHostName + L"/";
    const bool own = std::wcsncmp(source, origin.c_str(), origin.size()) == 0;
    CoTaskMemFree(source);
    return own;
}

void Win32WebView::Navigate(const std::string& url) {
    if (!webView_) return;
    url_ = Wide(url);
    webView_->Navigate(url_.c_str());
}

void Win32WebView::PostJson(const std::string& json) {
    if (!webView_) return;
    webView_->PostWebMessageAsJson(Wide(json).c_str());
}

void Win32WebView::Resize(const RECT& client) {
    if (!controller_) return;
    controller_->put_Bounds(client);
}

}  // namespace quillon::win32
