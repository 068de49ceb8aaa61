// quillon.exe itself, started as a user would start it: without the WebView2 runtime (Wine has
// none) it tells the person, offers the download and ends with exit code 1 before anything
// else starts. With a screen the dialog appears and is answered here; without one the system
// refuses it at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "fakes/file_text.h"
#include "fakes/temp_dir.h"
#include "platform/win32/win32_folders.h"

namespace quillon {
namespace {

std::filesystem::path ProgramBesideTests() {
    return std::filesystem::path(win32::ExecutablePathWide()).parent_path().parent_path() / "src" /
           "app" / "quillon.exe";
}

TEST(QuillonExe, WithoutTheWebViewRuntimeItSaysSoAndEndsBeforeAnythingStarts) {
    const std::filesystem::path program = ProgramBesideTests();
    ASSERT_TRUE(std::filesystem::exists(program)) << program.string();
    test::TempDir data;
    std::wstring command =
        L"\"" + program.wstring() + L"\" --minimized --data-dir \"" + data.path().wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    bool answered = false;
    DWORD waited = 0;
    while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT && waited < 30000) {
        waited += 100;
        const HWND dialog = FindWindowW(L"#32770", L"WebView2 Runtime Required");
        if (dialog != nullptr && !answered) {
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // Cancel: no download page opened
            answered = true;
        }
    }
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (exitCode == STILL_ACTIVE) TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 1u);

    // One log of this run, and nothing else: no archive folder, no settings.
    std::filesystem::path log;
    int entries = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(data.path())) {
        ++entries;
        if (entry.path().extension() == ".log") log = entry.path();
    }
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(entries, 2);  // Logs and the log in it
    const std::string text = test::ReadFileText(log);
    EXPECT_NE(text.find("[INFO] QlnWin starting (minimized)"), std::string::npos) << text;
    EXPECT_NE(text.find("[ERROR] WebView2 runtime not available"), std::string::npos) << text;
    EXPECT_NE(text.find("[INFO] Logging shutdown"), std::string::npos) << text;
    EXPECT_EQ(text.find("Archiver initialized"), std::string::npos) << text;
}

}  // namespace
}  // namespace quillon
