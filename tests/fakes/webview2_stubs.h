// Do-nothing bases for fakes of the large WebView2 interfaces: every method answers E_NOTIMPL,
// so a fake overrides only what the code under test calls. IUnknown is left to the fake.
#pragma once

#include "platform/win32/webview2_api.h"

namespace quillon::win32 {

#define QUILLON_NOT_IMPLEMENTED(name, params) \
    STDMETHOD(name) params override {         \
        return E_NOTIMPL;                     \
    }

struct ControllerStub : ICoreWebView2Controller {
    // ICoreWebView2Controller
    QUILLON_NOT_IMPLEMENTED(get_IsVisible, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsVisible, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_Bounds, (RECT*))
    QUILLON_NOT_IMPLEMENTED(put_Bounds, (RECT))
    QUILLON_NOT_IMPLEMENTED(get_ZoomFactor, (double*))
    QUILLON_NOT_IMPLEMENTED(put_ZoomFactor, (double))
    QUILLON_NOT_IMPLEMENTED(add_ZoomFactorChanged, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_ZoomFactorChanged, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(SetBoundsAndZoomFactor, (RECT, double))
    QUILLON_NOT_IMPLEMENTED(MoveFocus, (INT32))
    QUILLON_NOT_IMPLEMENTED(add_MoveFocusRequested, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_MoveFocusRequested, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_GotFocus, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_GotFocus, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_LostFocus, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_LostFocus, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_AcceleratorKeyPressed, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_AcceleratorKeyPressed, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(get_ParentWindow, (HWND*))
    QUILLON_NOT_IMPLEMENTED(put_ParentWindow, (HWND))
    QUILLON_NOT_IMPLEMENTED(NotifyParentWindowPositionChanged, ())
    QUILLON_NOT_IMPLEMENTED(Close, ())
    QUILLON_NOT_IMPLEMENTED(get_CoreWebView2, (ICoreWebView2**))
};

struct WebViewStub : ICoreWebView2_3 {
    // ICoreWebView2
    QUILLON_NOT_IMPLEMENTED(get_Settings, (ICoreWebView2Settings**))
    QUILLON_NOT_IMPLEMENTED(get_Source, (LPWSTR*))
    QUILLON_NOT_IMPLEMENTED(Navigate, (LPCWSTR))
    QUILLON_NOT_IMPLEMENTED(NavigateToString, (LPCWSTR))
    QUILLON_NOT_IMPLEMENTED(add_NavigationStarting, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_NavigationStarting, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_ContentLoading, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_ContentLoading, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_SourceChanged, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_SourceChanged, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_HistoryChanged, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_HistoryChanged, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_NavigationCompleted, (ICoreWebView2NavigationCompletedEventHandler*,
                                                      EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_NavigationCompleted, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_FrameNavigationStarting, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_FrameNavigationStarting, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_FrameNavigationCompleted, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_FrameNavigationCompleted, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_ScriptDialogOpening, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_ScriptDialogOpening, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_PermissionRequested, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_PermissionRequested, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_ProcessFailed,
                            (ICoreWebView2ProcessFailedEventHandler*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_ProcessFailed, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(AddScriptToExecuteOnDocumentCreated, (LPCWSTR, IUnknown*))
    QUILLON_NOT_IMPLEMENTED(RemoveScriptToExecuteOnDocumentCreated, (LPCWSTR))
    QUILLON_NOT_IMPLEMENTED(ExecuteScript, (LPCWSTR, IUnknown*))
    QUILLON_NOT_IMPLEMENTED(CapturePreview, (INT32, IStream*, IUnknown*))
    QUILLON_NOT_IMPLEMENTED(Reload, ())
    QUILLON_NOT_IMPLEMENTED(PostWebMessageAsJson, (LPCWSTR))
    QUILLON_NOT_IMPLEMENTED(PostWebMessageAsString, (LPCWSTR))
    QUILLON_NOT_IMPLEMENTED(add_WebMessageReceived,
                            (ICoreWebView2WebMessageReceivedEventHandler*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_WebMessageReceived, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(CallDevToolsProtocolMethod, (LPCWSTR, LPCWSTR, IUnknown*))
    QUILLON_NOT_IMPLEMENTED(get_BrowserProcessId, (UINT32*))
    QUILLON_NOT_IMPLEMENTED(get_CanGoBack, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(get_CanGoForward, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(GoBack, ())
    QUILLON_NOT_IMPLEMENTED(GoForward, ())
    QUILLON_NOT_IMPLEMENTED(GetDevToolsProtocolEventReceiver, (LPCWSTR, IUnknown**))
    QUILLON_NOT_IMPLEMENTED(Stop, ())
    QUILLON_NOT_IMPLEMENTED(add_NewWindowRequested, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_NewWindowRequested, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(add_DocumentTitleChanged, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_DocumentTitleChanged, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(get_DocumentTitle, (LPWSTR*))
    QUILLON_NOT_IMPLEMENTED(AddHostObjectToScript, (LPCWSTR, VARIANT*))
    QUILLON_NOT_IMPLEMENTED(RemoveHostObjectFromScript, (LPCWSTR))
    QUILLON_NOT_IMPLEMENTED(OpenDevToolsWindow, ())
    QUILLON_NOT_IMPLEMENTED(add_ContainsFullScreenElementChanged,
                            (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_ContainsFullScreenElementChanged, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(get_ContainsFullScreenElement, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(add_WebResourceRequested, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_WebResourceRequested, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(AddWebResourceRequestedFilter, (LPCWSTR, INT32))
    QUILLON_NOT_IMPLEMENTED(RemoveWebResourceRequestedFilter, (LPCWSTR, INT32))
    QUILLON_NOT_IMPLEMENTED(add_WindowCloseRequested, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_WindowCloseRequested, (EventRegistrationToken))
    // ICoreWebView2_2
    QUILLON_NOT_IMPLEMENTED(add_WebResourceResponseReceived, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_WebResourceResponseReceived, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(NavigateWithWebResourceRequest, (IUnknown*))
    QUILLON_NOT_IMPLEMENTED(add_DOMContentLoaded, (IUnknown*, EventRegistrationToken*))
    QUILLON_NOT_IMPLEMENTED(remove_DOMContentLoaded, (EventRegistrationToken))
    QUILLON_NOT_IMPLEMENTED(get_CookieManager, (IUnknown**))
    QUILLON_NOT_IMPLEMENTED(get_Environment, (ICoreWebView2Environment**))
    // ICoreWebView2_3
    QUILLON_NOT_IMPLEMENTED(TrySuspend, (IUnknown*))
    QUILLON_NOT_IMPLEMENTED(Resume, ())
    QUILLON_NOT_IMPLEMENTED(get_IsSuspended, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(SetVirtualHostNameToFolderMapping,
                            (LPCWSTR, LPCWSTR, COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND))
};

struct SettingsStub : ICoreWebView2Settings5 {
    // ICoreWebView2Settings
    QUILLON_NOT_IMPLEMENTED(get_IsScriptEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsScriptEnabled, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_IsWebMessageEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsWebMessageEnabled, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_AreDefaultScriptDialogsEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_AreDefaultScriptDialogsEnabled, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_IsStatusBarEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsStatusBarEnabled, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_AreDevToolsEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_AreDevToolsEnabled, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_AreDefaultContextMenusEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_AreDefaultContextMenusEnabled, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_AreHostObjectsAllowed, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_AreHostObjectsAllowed, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_IsZoomControlEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsZoomControlEnabled, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_IsBuiltInErrorPageEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsBuiltInErrorPageEnabled, (BOOL))
    // ICoreWebView2Settings2
    QUILLON_NOT_IMPLEMENTED(get_UserAgent, (LPWSTR*))
    QUILLON_NOT_IMPLEMENTED(put_UserAgent, (LPCWSTR))
    // ICoreWebView2Settings3
    QUILLON_NOT_IMPLEMENTED(get_AreBrowserAcceleratorKeysEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_AreBrowserAcceleratorKeysEnabled, (BOOL))
    // ICoreWebView2Settings4
    QUILLON_NOT_IMPLEMENTED(get_IsPasswordAutosaveEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsPasswordAutosaveEnabled, (BOOL))
    QUILLON_NOT_IMPLEMENTED(get_IsGeneralAutofillEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsGeneralAutofillEnabled, (BOOL))
    // ICoreWebView2Settings5
    QUILLON_NOT_IMPLEMENTED(get_IsPinchZoomEnabled, (BOOL*))
    QUILLON_NOT_IMPLEMENTED(put_IsPinchZoomEnabled, (BOOL))
};

#undef QUILLON_NOT_IMPLEMENTED

}  // namespace quillon::win32
