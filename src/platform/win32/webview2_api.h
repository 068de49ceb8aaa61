// The WebView2 COM interfaces the window's web view uses, declared by hand: no SDK headers
// exist for this compiler. Included by the web view host and its loader (UI thread) and by
// their tests, which implement the interfaces with fakes.
//
// Slot order is the order of the WebView2 SDK's interface definitions (WebView2.idl, SDK
// 1.0.1343), not the alphabetical order of the reference pages: a COM call is an index into
// the vtable, so every method up to the last one called is declared, in order, even when we
// never call it. Later methods of an interface are left out. Handler and enum types of methods
// we never call are given as IUnknown* and INT32, which occupy their slots alike.
#pragma once

#include <windows.h>
// After windows.h, whose types they use.
#include <eventtoken.h>
#include <objidl.h>

namespace quillon::win32 {

// Interface identifiers, as the SDK publishes them.
// 76eceacb-0462-4d94-ac83-423a6793775e
inline constexpr IID kIidCoreWebView2 = {
    0x76eceacb, 0x0462, 0x4d94, {0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e}};
// 9e8f0cf8-e670-4b5e-b2bc-73e061e3184c
inline constexpr IID kIidCoreWebView2_2 = {
    0x9e8f0cf8, 0xe670, 0x4b5e, {0xb2, 0xbc, 0x73, 0xe0, 0x61, 0xe3, 0x18, 0x4c}};
// a0d6df20-3b92-416d-aa0c-437a9c727857
inline constexpr IID kIidCoreWebView2_3 = {
    0xa0d6df20, 0x3b92, 0x416d, {0xaa, 0x0c, 0x43, 0x7a, 0x9c, 0x72, 0x78, 0x57}};
// 4d00c0d1-9434-4eb6-8078-8697a560334f
inline constexpr IID kIidController = {
    0x4d00c0d1, 0x9434, 0x4eb6, {0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33, 0x4f}};
// b96d755e-0319-4e92-a296-23436f46a1fc
inline constexpr IID kIidEnvironment = {
    0xb96d755e, 0x0319, 0x4e92, {0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc}};
// e562e4f0-d7fa-43ac-8d71-c05150499f00
inline constexpr IID kIidSettings = {
    0xe562e4f0, 0xd7fa, 0x43ac, {0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f, 0x00}};
// 183e7052-1d03-43a0-ab99-98e043b66b39
inline constexpr IID kIidSettings5 = {
    0x183e7052, 0x1d03, 0x43a0, {0xab, 0x99, 0x98, 0xe0, 0x43, 0xb6, 0x6b, 0x39}};
// 0f99a40c-e962-4207-9e92-e3d542eff849
inline constexpr IID kIidWebMessageReceivedEventArgs = {
    0x0f99a40c, 0xe962, 0x4207, {0x9e, 0x92, 0xe3, 0xd5, 0x42, 0xef, 0xf8, 0x49}};
// 57213f19-00e6-49fa-8e07-898ea01ecbd2
inline constexpr IID kIidWebMessageReceivedEventHandler = {
    0x57213f19, 0x00e6, 0x49fa, {0x8e, 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2}};
// 4e8a3389-c9d8-4bd2-b6b5-124fee6cc14d
inline constexpr IID kIidEnvironmentCompletedHandler = {
    0x4e8a3389, 0xc9d8, 0x4bd2, {0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d}};
// 6c4819f3-c9b7-4260-8127-c9f5bde7f68c
inline constexpr IID kIidControllerCompletedHandler = {
    0x6c4819f3, 0xc9b7, 0x4260, {0x81, 0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c}};
// 79e0aea4-990b-42d9-aa1d-0fcc2e5bc7f1
inline constexpr IID kIidProcessFailedEventHandler = {
    0x79e0aea4, 0x990b, 0x42d9, {0xaa, 0x1d, 0x0f, 0xcc, 0x2e, 0x5b, 0xc7, 0xf1}};
// d33a35bf-1c49-4f98-93ab-006e0533fe1c
inline constexpr IID kIidNavigationCompletedEventHandler = {
    0xd33a35bf, 0x1c49, 0x4f98, {0x93, 0xab, 0x00, 0x6e, 0x05, 0x33, 0xfe, 0x1c}};

enum COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND : INT32 {
    COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND_DENY = 0,
    COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND_ALLOW = 1,
    COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND_DENY_CORS = 2,
};

// Which of the runtime's processes failed; later kinds (frame renderers, utility, GPU and other
// helper processes) are restarted by the runtime itself.
enum COREWEBVIEW2_PROCESS_FAILED_KIND : INT32 {
    COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED = 0,
    COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED = 1,
    COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE = 2,
};

struct ICoreWebView2;
struct ICoreWebView2Controller;
struct ICoreWebView2Environment;
struct ICoreWebView2Settings;
struct ICoreWebView2WebMessageReceivedEventArgs;

struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler : IUnknown {
    STDMETHOD(Invoke)(HRESULT errorCode, ICoreWebView2Environment* createdEnvironment) PURE;
};

struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandler : IUnknown {
    STDMETHOD(Invoke)(HRESULT errorCode, ICoreWebView2Controller* createdController) PURE;
};

struct ICoreWebView2WebMessageReceivedEventHandler : IUnknown {
    STDMETHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args) PURE;
};

struct ICoreWebView2ProcessFailedEventArgs : IUnknown {
    STDMETHOD(get_ProcessFailedKind)(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) PURE;
};

struct ICoreWebView2ProcessFailedEventHandler : IUnknown {
    STDMETHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) PURE;
};

struct ICoreWebView2NavigationCompletedEventArgs : IUnknown {
    STDMETHOD(get_IsSuccess)(BOOL* isSuccess) PURE;
};

struct ICoreWebView2NavigationCompletedEventHandler : IUnknown {
    STDMETHOD(Invoke)
    (ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args) PURE;
};

struct ICoreWebView2Environment : IUnknown {
    STDMETHOD(CreateCoreWebView2Controller)
    (HWND parentWindow, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) PURE;
};

struct ICoreWebView2Controller : IUnknown {
    STDMETHOD(get_IsVisible)(BOOL* isVisible) PURE;
    STDMETHOD(put_IsVisible)(BOOL isVisible) PURE;
    STDMETHOD(get_Bounds)(RECT* bounds) PURE;
    STDMETHOD(put_Bounds)(RECT bounds) PURE;
    STDMETHOD(get_ZoomFactor)(double* zoomFactor) PURE;
    STDMETHOD(put_ZoomFactor)(double zoomFactor) PURE;
    STDMETHOD(add_ZoomFactorChanged)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_ZoomFactorChanged)(EventRegistrationToken token) PURE;
    STDMETHOD(SetBoundsAndZoomFactor)(RECT bounds, double zoomFactor) PURE;
    STDMETHOD(MoveFocus)(INT32 reason) PURE;
    STDMETHOD(add_MoveFocusRequested)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_MoveFocusRequested)(EventRegistrationToken token) PURE;
    STDMETHOD(add_GotFocus)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_GotFocus)(EventRegistrationToken token) PURE;
    STDMETHOD(add_LostFocus)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_LostFocus)(EventRegistrationToken token) PURE;
    STDMETHOD(add_AcceleratorKeyPressed)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_AcceleratorKeyPressed)(EventRegistrationToken token) PURE;
    STDMETHOD(get_ParentWindow)(HWND* parentWindow) PURE;
    STDMETHOD(put_ParentWindow)(HWND parentWindow) PURE;
    STDMETHOD(NotifyParentWindowPositionChanged)() PURE;
    STDMETHOD(Close)() PURE;
    STDMETHOD(get_CoreWebView2)(ICoreWebView2** coreWebView2) PURE;
};

struct ICoreWebView2Settings : IUnknown {
    STDMETHOD(get_IsScriptEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_IsScriptEnabled)(BOOL enabled) PURE;
    STDMETHOD(get_IsWebMessageEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_IsWebMessageEnabled)(BOOL enabled) PURE;
    STDMETHOD(get_AreDefaultScriptDialogsEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_AreDefaultScriptDialogsEnabled)(BOOL enabled) PURE;
    STDMETHOD(get_IsStatusBarEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_IsStatusBarEnabled)(BOOL enabled) PURE;
    STDMETHOD(get_AreDevToolsEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_AreDevToolsEnabled)(BOOL enabled) PURE;
    STDMETHOD(get_AreDefaultContextMenusEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_AreDefaultContextMenusEnabled)(BOOL enabled) PURE;
    STDMETHOD(get_AreHostObjectsAllowed)(BOOL* allowed) PURE;
    STDMETHOD(put_AreHostObjectsAllowed)(BOOL allowed) PURE;
    STDMETHOD(get_IsZoomControlEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_IsZoomControlEnabled)(BOOL enabled) PURE;
    STDMETHOD(get_IsBuiltInErrorPageEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_IsBuiltInErrorPageEnabled)(BOOL enabled) PURE;
};

struct ICoreWebView2Settings2 : ICoreWebView2Settings {
    STDMETHOD(get_UserAgent)(LPWSTR* userAgent) PURE;
    STDMETHOD(put_UserAgent)(LPCWSTR userAgent) PURE;
};

struct ICoreWebView2Settings3 : ICoreWebView2Settings2 {
    STDMETHOD(get_AreBrowserAcceleratorKeysEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_AreBrowserAcceleratorKeysEnabled)(BOOL enabled) PURE;
};

struct ICoreWebView2Settings4 : ICoreWebView2Settings3 {
    STDMETHOD(get_IsPasswordAutosaveEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_IsPasswordAutosaveEnabled)(BOOL enabled) PURE;
    STDMETHOD(get_IsGeneralAutofillEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_IsGeneralAutofillEnabled)(BOOL enabled) PURE;
};

struct ICoreWebView2Settings5 : ICoreWebView2Settings4 {
    STDMETHOD(get_IsPinchZoomEnabled)(BOOL* enabled) PURE;
    STDMETHOD(put_IsPinchZoomEnabled)(BOOL enabled) PURE;
};

struct ICoreWebView2WebMessageReceivedEventArgs : IUnknown {
    STDMETHOD(get_Source)(LPWSTR* source) PURE;
    STDMETHOD(get_WebMessageAsJson)(LPWSTR* json) PURE;
    // Fails (E_INVALIDARG) when the page posted anything but a string.
    STDMETHOD(TryGetWebMessageAsString)(LPWSTR* text) PURE;
};

struct ICoreWebView2 : IUnknown {
    STDMETHOD(get_Settings)(ICoreWebView2Settings** settings) PURE;
    STDMETHOD(get_Source)(LPWSTR* uri) PURE;
    STDMETHOD(Navigate)(LPCWSTR uri) PURE;
    STDMETHOD(NavigateToString)(LPCWSTR htmlContent) PURE;
    STDMETHOD(add_NavigationStarting)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_NavigationStarting)(EventRegistrationToken token) PURE;
    STDMETHOD(add_ContentLoading)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_ContentLoading)(EventRegistrationToken token) PURE;
    STDMETHOD(add_SourceChanged)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_SourceChanged)(EventRegistrationToken token) PURE;
    STDMETHOD(add_HistoryChanged)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_HistoryChanged)(EventRegistrationToken token) PURE;
    STDMETHOD(add_NavigationCompleted)
    (ICoreWebView2NavigationCompletedEventHandler* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_NavigationCompleted)(EventRegistrationToken token) PURE;
    STDMETHOD(add_FrameNavigationStarting)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_FrameNavigationStarting)(EventRegistrationToken token) PURE;
    STDMETHOD(add_FrameNavigationCompleted)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_FrameNavigationCompleted)(EventRegistrationToken token) PURE;
    STDMETHOD(add_ScriptDialogOpening)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_ScriptDialogOpening)(EventRegistrationToken token) PURE;
    STDMETHOD(add_PermissionRequested)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_PermissionRequested)(EventRegistrationToken token) PURE;
    STDMETHOD(add_ProcessFailed)
    (ICoreWebView2ProcessFailedEventHandler* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_ProcessFailed)(EventRegistrationToken token) PURE;
    STDMETHOD(AddScriptToExecuteOnDocumentCreated)(LPCWSTR javaScript, IUnknown* handler) PURE;
    STDMETHOD(RemoveScriptToExecuteOnDocumentCreated)(LPCWSTR id) PURE;
    STDMETHOD(ExecuteScript)(LPCWSTR javaScript, IUnknown* handler) PURE;
    STDMETHOD(CapturePreview)(INT32 imageFormat, IStream* imageStream, IUnknown* handler) PURE;
    STDMETHOD(Reload)() PURE;
    STDMETHOD(PostWebMessageAsJson)(LPCWSTR webMessageAsJson) PURE;
    STDMETHOD(PostWebMessageAsString)(LPCWSTR webMessageAsString) PURE;
    STDMETHOD(add_WebMessageReceived)
    (ICoreWebView2WebMessageReceivedEventHandler* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_WebMessageReceived)(EventRegistrationToken token) PURE;
    STDMETHOD(CallDevToolsProtocolMethod)
    (LPCWSTR methodName, LPCWSTR parametersAsJson, IUnknown* handler) PURE;
    STDMETHOD(get_BrowserProcessId)(UINT32* value) PURE;
    STDMETHOD(get_CanGoBack)(BOOL* canGoBack) PURE;
    STDMETHOD(get_CanGoForward)(BOOL* canGoForward) PURE;
    STDMETHOD(GoBack)() PURE;
    STDMETHOD(GoForward)() PURE;
    STDMETHOD(GetDevToolsProtocolEventReceiver)(LPCWSTR eventName, IUnknown** receiver) PURE;
    STDMETHOD(Stop)() PURE;
    STDMETHOD(add_NewWindowRequested)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_NewWindowRequested)(EventRegistrationToken token) PURE;
    STDMETHOD(add_DocumentTitleChanged)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_DocumentTitleChanged)(EventRegistrationToken token) PURE;
    STDMETHOD(get_DocumentTitle)(LPWSTR* title) PURE;
    STDMETHOD(AddHostObjectToScript)(LPCWSTR name, VARIANT* object) PURE;
    STDMETHOD(RemoveHostObjectFromScript)(LPCWSTR name) PURE;
    STDMETHOD(OpenDevToolsWindow)() PURE;
    STDMETHOD(add_ContainsFullScreenElementChanged)
    (IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_ContainsFullScreenElementChanged)(EventRegistrationToken token) PURE;
    STDMETHOD(get_ContainsFullScreenElement)(BOOL* containsFullScreenElement) PURE;
    STDMETHOD(add_WebResourceRequested)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_WebResourceRequested)(EventRegistrationToken token) PURE;
    STDMETHOD(AddWebResourceRequestedFilter)(LPCWSTR uri, INT32 resourceContext) PURE;
    STDMETHOD(RemoveWebResourceRequestedFilter)(LPCWSTR uri, INT32 resourceContext) PURE;
    STDMETHOD(add_WindowCloseRequested)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_WindowCloseRequested)(EventRegistrationToken token) PURE;
};

struct ICoreWebView2_2 : ICoreWebView2 {
    STDMETHOD(add_WebResourceResponseReceived)
    (IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_WebResourceResponseReceived)(EventRegistrationToken token) PURE;
    STDMETHOD(NavigateWithWebResourceRequest)(IUnknown* request) PURE;
    STDMETHOD(add_DOMContentLoaded)(IUnknown* handler, EventRegistrationToken* token) PURE;
    STDMETHOD(remove_DOMContentLoaded)(EventRegistrationToken token) PURE;
    STDMETHOD(get_CookieManager)(IUnknown** cookieManager) PURE;
    STDMETHOD(get_Environment)(ICoreWebView2Environment** environment) PURE;
};

struct ICoreWebView2_3 : ICoreWebView2_2 {
    STDMETHOD(TrySuspend)(IUnknown* handler) PURE;
    STDMETHOD(Resume)() PURE;
    STDMETHOD(get_IsSuspended)(BOOL* isSuspended) PURE;
    STDMETHOD(SetVirtualHostNameToFolderMapping)
    (LPCWSTR hostName, LPCWSTR folderPath, COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND accessKind) PURE;
};

// The loader's exports (WebView2Loader.dll).
using CreateCoreWebView2EnvironmentWithOptionsFn = HRESULT(STDAPICALLTYPE*)(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, IUnknown* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler);
// The version text is the caller's to free with CoTaskMemFree.
using GetAvailableCoreWebView2BrowserVersionStringFn =
    HRESULT(STDAPICALLTYPE*)(PCWSTR browserExecutableFolder, LPWSTR* versionInfo);

}  // namespace quillon::win32
