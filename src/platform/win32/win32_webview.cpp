#include "platform/win32/win32_webview.h"

#include <atomic>
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
    if (messageHandlerAdded_ && webView_) webView_->remove_WebMessageReceived(messageToken_);
}

bool Win32WebView::Create(HWND window, const std::string& uiFolder,
                          const std::string& userDataFolder, std::function<void()> onReady,
                          std::function<void(const std::string&)> onMessage) {
    return Create(window, uiFolder, userDataFolder, std::move(onReady), std::move(onMessage),
                  CreateWebViewEnvironment);
}

bool Win32WebView::Create(HWND window, const std::string& uiFolder,
                          const std::string& userDataFolder, std::function<void()> onReady,
                          std::function<void(const std::string&)> onMessage,
                          const EnvironmentFactory& createEnvironment) {
    // One attempt per run: a failed control stays failed.
    if (created_) return false;
    created_ = true;
    window_ = window;
    uiFolder_ = Wide(uiFolder);
    onReady_ = std::move(onReady);
    onMessage_ = std::move(onMessage);

    using EnvironmentHandler = Handler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                                       HRESULT, ICoreWebView2Environment*>;
    ComRef<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> handler;
    handler.Attach(new EnvironmentHandler(self_, &Win32WebView::OnEnvironmentCreated,
                                          kIidEnvironmentCompletedHandler));
    const HRESULT hr =
        createEnvironment ? createEnvironment(userDataFolder, handler.get()) : E_POINTER;
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

    using MessageHandler = Handler<ICoreWebView2WebMessageReceivedEventHandler, ICoreWebView2*,
                                   ICoreWebView2WebMessageReceivedEventArgs*>;
    ComRef<ICoreWebView2WebMessageReceivedEventHandler> handler;
    handler.Attach(
        new MessageHandler(self_, &Win32WebView::OnWebMessage, kIidWebMessageReceivedEventHandler));
    messageHandlerAdded_ =
        SUCCEEDED(webView_->add_WebMessageReceived(handler.get(), &messageToken_));

    RECT client{};
    GetClientRect(window_, &client);
    controller_->put_Bounds(client);

    ready_ = true;
    if (onReady_) onReady_();
    return S_OK;
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
    if (onMessage_) onMessage_(message);
    return S_OK;
}

void Win32WebView::Navigate(const std::string& url) {
    if (!webView_) return;
    webView_->Navigate(Wide(url).c_str());
}

void Win32WebView::PostJson(const std::string& json) {
    if (!ready_ || !webView_) return;
    webView_->PostWebMessageAsJson(Wide(json).c_str());
}

void Win32WebView::Resize(const RECT& client) {
    if (!controller_) return;
    controller_->put_Bounds(client);
}

}  // namespace quillon::win32
