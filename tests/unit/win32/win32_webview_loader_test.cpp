// Finding the installed WebView2 runtime without its loader: which "pv" values name a runtime,
// where its engine DLL is for a client key, which key wins, and the engine's entry point
// called with the data folder, through a stand-in engine built beside the tests
// (tests/unit/win32/fake_webview_engine.cpp) installed under fake client keys of our own.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "fakes/temp_dir.h"
#include "platform/win32/win32_folders.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_webview_loader.h"

namespace quillon::win32 {
namespace {

std::wstring BesideProgram(const wchar_t* name) {
    const std::wstring program = ExecutablePathWide();
    return program.substr(0, program.rfind(L'\\') + 1) + name;
}

// Client keys under HKCU\Software\QuillonTest-<random>, removed at the end.
class FakeClientKeys {
public:
    FakeClientKeys() : base_(L"Software\\QuillonTest-" + std::to_wstring(std::random_device()())) {}
    ~FakeClientKeys() { RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str()); }

    RuntimeClientKey Key(const std::wstring& name, const std::wstring& defaultFolder = L"") {
        return {HKEY_CURRENT_USER, base_ + L"\\" + name, defaultFolder};
    }
    void Write(const RuntimeClientKey& key, const wchar_t* name, const std::wstring& value) {
        ASSERT_EQ(RegSetKeyValueW(key.root, key.subkey.c_str(), name, REG_SZ, value.c_str(),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

private:
    std::wstring base_;
};

// Puts the stand-in engine where an installed runtime of this version keeps its engine.
std::wstring InstallEngine(const std::filesystem::path& folder, const std::wstring& version) {
    const std::wstring engine =
        (folder / version / L"EBWebView\\x64\\EmbeddedBrowserWebView.dll").wstring();
    std::filesystem::create_directories(std::filesystem::path(engine).parent_path());
    EXPECT_TRUE(CopyFileW(BesideProgram(L"fake_webview_engine.dll").c_str(), engine.c_str(), TRUE));
    return engine;
}

struct RecordingHandler : ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler {
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Invoke(HRESULT result, ICoreWebView2Environment*) override {
        results.push_back(result);
        return S_OK;
    }
    std::vector<HRESULT> results;
};

TEST(Win32WebViewRuntime, VersionsAndEnginePaths) {
    EXPECT_TRUE(IsInstalledVersion(L"120.0.2210.91"));
    EXPECT_TRUE(IsInstalledVersion(L"0.0.0.1"));
    for (const wchar_t* notInstalled : {L"", L"0.0.0.0", L"0", L".120.0", L"120.0.", L"120..0",
                                        L"..\\..\\Windows", L"120.0 beta"}) {
        EXPECT_FALSE(IsInstalledVersion(notInstalled)) << Narrow(notInstalled);
    }

    const std::wstring tail = L"\\120.0.2210.91\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
    EXPECT_EQ(EngineDllPath(L"120.0.2210.91", L"D:\\WebView\\App", L"C:\\Default"),
              L"D:\\WebView\\App" + tail);
    EXPECT_EQ(EngineDllPath(L"120.0.2210.91", L"D:\\WebView\\App\\", L""),
              L"D:\\WebView\\App" + tail);
    EXPECT_EQ(EngineDllPath(L"120.0.2210.91", L"", L"C:\\Default"), L"C:\\Default" + tail);
    EXPECT_EQ(EngineDllPath(L"120.0.2210.91", L"", L""), L"");
    EXPECT_EQ(EngineDllPath(L"0.0.0.0", L"D:\\WebView\\App", L"C:\\Default"), L"");
}

// The machine-wide key comes first, as in Microsoft's loader; a key without an engine on disk
// (left behind by an uninstall) gives way to the next.
TEST(Win32WebViewRuntime, TheFirstKeyWithAnEngineOnDiskWins) {
    FakeClientKeys keys;
    test::TempDir machineFolder, userFolder, defaultFolder;
    const RuntimeClientKey machine = keys.Key(L"Machine");
    const RuntimeClientKey user = keys.Key(L"User", defaultFolder.path().wstring());
    const RuntimeSearch search{{machine, user}};

    EXPECT_EQ(FindInstalledRuntime(search).version, "");  // no keys at all

    keys.Write(machine, L"pv", L"0.0.0.0");
    keys.Write(machine, L"location", machineFolder.path().wstring());
    InstallEngine(machineFolder.path(), L"0.0.0.0");
    // The user's key names no location: its engine is under the default folder.
    keys.Write(user, L"pv", L"119.0.1.2");
    const std::wstring userEngine = InstallEngine(defaultFolder.path(), L"119.0.1.2");
    InstalledRuntime found = FindInstalledRuntime(search);
    EXPECT_EQ(found.version, "119.0.1.2");
    EXPECT_EQ(found.engine, userEngine);

    keys.Write(machine, L"pv", L"120.0.2210.91");  // installed, but its engine is gone
    EXPECT_EQ(FindInstalledRuntime(search).version, "119.0.1.2");

    const std::wstring machineEngine = InstallEngine(machineFolder.path(), L"120.0.2210.91");
    found = FindInstalledRuntime(search);
    EXPECT_EQ(found.version, "120.0.2210.91");
    EXPECT_EQ(found.engine, machineEngine);

    keys.Write(user, L"pv", L"");
    EXPECT_EQ(FindInstalledRuntime(RuntimeSearch{{user}}).version, "");
}

TEST(Win32WebViewRuntime, TheEngineIsStartedWithTheDataFolder) {
    FakeClientKeys keys;
    test::TempDir folder;
    const RuntimeClientKey key = keys.Key(L"User");
    keys.Write(key, L"pv", L"121.0.3.4");
    keys.Write(key, L"location", folder.path().wstring());
    const std::wstring engine = InstallEngine(folder.path(), L"121.0.3.4");
    const InstalledRuntime runtime = FindInstalledRuntime(RuntimeSearch{{key}});
    ASSERT_EQ(runtime.engine, engine);

    RecordingHandler handler;
    EXPECT_EQ(CreateEnvironmentFromEngine(runtime.engine, "", &handler), E_INVALIDARG);
    const std::string dataFolder = "C:\\Users\\Zo\xC3\xAB\\AppData\\Local\\Quillon\\WebView2";
    EXPECT_EQ(CreateEnvironmentFromEngine(runtime.engine, dataFolder, &handler), S_OK);
    EXPECT_EQ(handler.results, std::vector<HRESULT>{S_OK});

    // Still loaded after the call: the environment runs code of the engine.
    const HMODULE module = GetModuleHandleW(engine.c_str());
    ASSERT_NE(module, nullptr);
    using LastCall = const wchar_t* (*)(int*, int*, LONG*);
    const auto lastCall = reinterpret_cast<LastCall>(
        reinterpret_cast<void*>(GetProcAddress(module, "fake_engine_last_call")));
    ASSERT_NE(lastCall, nullptr);
    int flags = 0, runtimeType = -1;
    LONG count = 0;
    EXPECT_EQ(Narrow(lastCall(&flags, &runtimeType, &count)), dataFolder);
    EXPECT_EQ(count, 1);        // the refused call never reached the engine
    EXPECT_EQ(flags, 1);        // checks for a running instance, gives no options
    EXPECT_EQ(runtimeType, 0);  // the installed runtime, not a fixed version
    FreeLibrary(module);        // so that the temporary folder can go

    // No engine: clean failures, and the handler is never called.
    EXPECT_EQ(CreateEnvironmentFromEngine(L"", dataFolder, &handler),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_TRUE(FAILED(CreateEnvironmentFromEngine(
        (folder.path() / L"missing\\EmbeddedBrowserWebView.dll").wstring(), dataFolder, &handler)));
    // A library that is no engine: refused and given back.
    EXPECT_EQ(CreateEnvironmentFromEngine(BesideProgram(L"fake_wpcap.dll"), dataFolder, &handler),
              HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetModuleHandleW(L"fake_wpcap.dll"), nullptr)
        << "a library that is no engine is kept";
    EXPECT_EQ(handler.results.size(), 1u);
}

}  // namespace
}  // namespace quillon::win32
