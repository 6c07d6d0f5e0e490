// halvane-host.exe started as Firefox starts a native-messaging host: suspended, without a
// window, in a job that lets children break away and ends with the host, its input left open
// as a port is. Then its registration.
#include "browser_windows.h"
#include "driver.h"
#include "language_roads.h"
#include "string_tables.h"
#include "host/host_identity.h"
#include "ui/display_text.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

namespace {

const DWORD kTimeoutMs = 10000;

std::string Length(uint32_t length)
{
    std::string bytes(4, '\0');
    std::memcpy(&bytes[0], &length, 4);
    return bytes;
}

std::string Framed(const std::string& body)
{
    return Length(static_cast<uint32_t>(body.size())) + body;
}

std::string Request(const std::string& site, const std::string& title, const std::string& language)
{
    return "{\"site\":\"" + site + "\",\"title\":\"" + title + "\",\"language\":\"" + language + "\"}";
}

// Between a test's rows, as after every test: ends and names what runs; true when nothing did.
bool NothingLeftRunning(const char* row)
{
    return driver::EndLeftovers(std::string("was left running by the row \"") + row + "\"").empty();
}

struct BrowserHost : testing::Test {
    void SetUp() override { driver::DeleteDecisionsKey(); }
    void TearDown() override
    {
        SendHalvaneOnTheDefaultRoad();
        driver::DeleteDecisionsKey();
    }
};

// Besides a choice or Cancel at "asking": the port closed, or the request withdrawn; at "kept", Halvane killed,
// or stopped, the window retitled, and Halvane killed. Or throughout: the window retitled by the page in the
// very moment Halvane raises it, and the request withdrawn once it is on top, before the host was told
// anything; the prompt answered with Escape the moment it is made.
const int kClosePort = -1, kWithdraw = -2, kKill = -3, kRetitleAndWithdraw = -4, kEscapeAtOnce = -5,
          kRetitleAndKill = -6;

// Stops every thread of the process, as a debugger does: it takes no further look at anything.
bool Freeze(DWORD processId)
{
    typedef LONG(NTAPI * SuspendProcess)(HANDLE);
    auto suspend = reinterpret_cast<SuspendProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSuspendProcess")));
    std::unique_ptr<void, decltype(&CloseHandle)> process(OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, processId),
                                                          CloseHandle);
    return suspend && process && suspend(process.get()) >= 0;
}

// Presses Escape in every dialog another process makes, as soon as Windows
// reports its making (Wine 8 reports no showing): the prompt lives far less
// than one of the host's looks.
class EscapeAtOnce {
public:
    EscapeAtOnce()
    {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
        WaitForSingleObject(ready_, kTimeoutMs);
    }
    ~EscapeAtOnce()
    {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, kTimeoutMs);
        CloseHandle(thread_);
        CloseHandle(ready_);
    }
    EscapeAtOnce(const EscapeAtOnce&) = delete;
    EscapeAtOnce& operator=(const EscapeAtOnce&) = delete;

private:
    static void CALLBACK Made(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
    {
        wchar_t className[16] = {};
        if (object == OBJID_WINDOW && child == CHILDID_SELF && GetClassNameW(window, className, 16) &&
            wcscmp(className, L"#32770") == 0 && (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0)
            driver::PressKey(window, VK_ESCAPE);
    }
    static DWORD WINAPI Run(void* self)
    {
        EscapeAtOnce* escape = static_cast<EscapeAtOnce*>(self);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
        HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, Made, 0, 0,
                                             WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
        SetEvent(escape->ready_);
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        UnhookWinEvent(hook);
        return 0;
    }
    HANDLE ready_ = nullptr, thread_ = nullptr;
    DWORD threadId_ = 0;
};

// The page's retitle as Halvane raises the window: done by the window's own
// thread while it is told of the raise, so that no look of the host's can
// come between the two.
WNDPROC RetitledWindowProc;
std::atomic<bool> RetitledOnTop;

LRESULT CALLBACK RetitleWhenRaised(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcW(RetitledWindowProc, window, message, wParam, lParam);
    if (message == WM_WINDOWPOSCHANGED && !RetitledOnTop && driver::IsTopmost(window)) {
        SetWindowTextW(window, L"Another title");
        RetitledOnTop = true;
    }
    return result;
}

// The host stays while its Halvane runs and tells each change. The title carries
// what the command line must not split or strip: quotes, spaces, an ampersand and
// a character outside ASCII; the prompt shows it in the language asked for.
TEST_F(BrowserHost, TellsWhatItsHalvaneDoesUntilItEndsOrThePortCloses)
{
    ASSERT_TRUE(SendHalvaneOnTheLocaleRoad());
    const std::wstring title = L"\"A\" & B \x2014 Firefox";
    const std::string request = Framed(Request("example.org", "\\\"A\\\" & B \xE2\x80\x94 Firefox", "de-AT"));
    // stored: the site's decision beforehand (-1 none); window: the browser window is open (2: and
    // on top already); otherMs: another Halvane's mutex is held so long from the start (INFINITE:
    // throughout); answer: what is done at "asking" or "kept". On "kept" the window is closed, unless
    // Halvane is killed: then the host must have lowered it before it tells the end.
    const struct { const char* name; int stored; int window; DWORD otherMs; int answer; const char* told; } cases[] = {
        {"just this time", -1, 1, 0, IDC_JUST_THIS_TIME, "started asking kept ended/released"},
        {"never", -1, 1, 0, IDC_NEVER, "started asking ended/declined"},
        {"cancel", -1, 1, 0, IDCANCEL, "started asking ended/dismissed"},
        {"cancel, the window on top before Halvane started", -1, 2, 0, IDCANCEL, "started asking ended/dismissed"},
        {"a remembered Deny", 0, 1, 0, 0, "started ended/declined"},
        {"a remembered Allow", 1, 1, 0, 0, "started kept ended/released"},
        {"a remembered Allow, no such window", 1, 0, 0, 0, "started ended/not-found"},
        {"another Halvane for over 2 s", 1, 1, INFINITE, 0, "busy"},
        {"another Halvane ending within 2 s", 1, 1, 1000, 0, "started kept ended/released"},
        {"withdrawn while the prompt shows", -1, 1, 0, kWithdraw, "started asking ended/withdrawn"},
        {"Halvane killed while it keeps", 1, 1, 0, kKill, "started kept ended/error"},
        {"Halvane killed while it keeps, the window retitled", 1, 1, 0, kRetitleAndKill, "started kept ended/error"},
        {"the port closed while the prompt shows", -1, 1, 0, kClosePort, "started asking"},
        {"Escape at once, before any look", -1, 1, 0, kEscapeAtOnce, "started asking ended/dismissed"},
        {"a remembered Allow, retitled as raised, then withdrawn", 1, 1, 0, kRetitleAndWithdraw,
         "started kept ended/released"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool killed = c.answer == kKill || c.answer == kRetitleAndKill;
        if (c.stored >= 0)
            driver::WriteDword(L"example.org", c.stored);
        StandInBrowser browser;
        HWND window = c.window ? browser.Open(L"MozillaWindowClass", title) : nullptr;
        if (c.window == 2)
            SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        HANDLE other = c.otherMs ? CreateMutexW(nullptr, FALSE, L"HalvaneExe") : nullptr;
        std::unique_ptr<EscapeAtOnce> escape(c.answer == kEscapeAtOnce ? new EscapeAtOnce : nullptr);
        RetitledOnTop = false;
        bool withdrawPosted = false;
        if (c.answer == kRetitleAndWithdraw)
            RetitledWindowProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RetitleWhenRaised)));
        DWORD start = GetTickCount();
        driver::FirefoxHost host(driver::ProgramPath(L"" HALVANE_HOST_EXE));
        ASSERT_NE(host.process().id, 0u) << "cannot start the host (error " << GetLastError() << ")";
        host.Post(request);

        std::string told, body;
        DWORD halvaneId = 0;
        while (GetTickCount() - start < 3 * kTimeoutMs) {
            if (other && GetTickCount() - start >= c.otherMs)
                CloseHandle(std::exchange(other, nullptr));
            if (RetitledOnTop && !std::exchange(withdrawPosted, true))
                host.Post(Framed("{\"withdraw\":true}"));
            // What the host wrote before it ended is read before its end counts.
            if (!host.Receive(&body, 50)) {
                if (host.OutputEnded())
                    break;
                continue;
            }
            rapidjson::Document message;
            message.Parse(body.c_str());
            ASSERT_TRUE(message.IsObject() && message["event"].IsString()) << body;
            std::string event = message["event"].GetString();
            told += (told.empty() ? "" : " ") + event;
            if (event == "started") {
                halvaneId = message["pid"].GetUint();
                std::unique_ptr<void, decltype(&CloseHandle)> halvane(
                    OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, halvaneId), CloseHandle);
                BOOL inJob = TRUE;
                EXPECT_TRUE(IsProcessInJob(halvane.get(), host.job(), &inJob) && !inJob) << "Halvane is in the job";
            } else if (event == "asking" && c.answer != kEscapeAtOnce) {
                HWND prompt = driver::WaitForDialog(halvaneId, kTimeoutMs);
                ASSERT_NE(prompt, nullptr);
                wchar_t text[1024];
                FormatPromptMessage(string_tables::StringsOf(1031)[IDS_PROMPT_MESSAGE].c_str(), L"example.org",
                                    title.c_str(), text, 1024);
                EXPECT_EQ(driver::ItemText(prompt, IDC_MESSAGE), text);
                if (c.answer == kClosePort)
                    break;
                if (c.answer == kWithdraw)
                    host.Post(Framed("{\"withdraw\":true}"));
                else if (c.answer == IDCANCEL)
                    driver::Click(prompt, IDCANCEL);
                else
                    EXPECT_TRUE(driver::WaitUntilInputCounts(prompt) && driver::Pick(prompt, c.answer) &&
                                driver::PressOk(prompt));
            } else if (event == "kept" && c.answer != kRetitleAndWithdraw) {  // that one Halvane lets go itself
                EXPECT_TRUE(driver::IsTopmost(window));
                if (killed) {
                    // Stopped first, so that the retitle cannot be seen by Halvane, which would let go itself.
                    if (c.answer == kRetitleAndKill) {
                        ASSERT_TRUE(Freeze(halvaneId));
                        browser.Retitle(window, L"Another title");
                    }
                    driver::Process halvane = driver::FindProcess(L"halvane.exe");
                    driver::End(halvane);  // as Task Manager ends it
                } else
                    browser.Close(window);
            } else if (event == "ended") {
                told += std::string("/") + message["outcome"].GetString();
                EXPECT_EQ(message["asked"].GetBool(), told.find("asking") != std::string::npos);
                EXPECT_EQ(message["exitCode"].GetInt() == 0, c.answer != kWithdraw && !killed);
                if (killed)
                    EXPECT_FALSE(driver::IsTopmost(window)) << "the killed Halvane's window is left on top";
                EXPECT_EQ(driver::IsTopmost(window), c.window == 2)
                    << (c.window == 2 ? "a window on top before stays so" : "the window is left on top");
            }
        }
        if (other)
            CloseHandle(other);
        EXPECT_EQ(told, c.told);
        if (c.answer == kClosePort) {
            // The extension is gone before anybody answered: the host ends its Halvane, then itself.
            host.ClosePort();
            EXPECT_EQ(host.WaitForExit(kTimeoutMs), 0u);
            EXPECT_TRUE(host.OutputEnded(kTimeoutMs)) << "something else holds the host's standard output";
        }
        if (c.answer == kClosePort || c.answer == kWithdraw)
            EXPECT_FALSE(driver::DecisionsKeyExists()) << "a withdrawn request stored a decision";
        EXPECT_EQ(host.WaitForExit(kTimeoutMs), 0u) << "259 (STILL_ACTIVE): the host was still waiting";
        EXPECT_TRUE(NothingLeftRunning(c.name)) << "a Halvane was left running";
        driver::DeleteDecisionsKey();
    }
}

// Each gets the error message, the exit code 1, and no Halvane. One request of
// each kind the parser refuses: its unit tests hold every case of each.
TEST_F(BrowserHost, ARefusedRequestGetsAnErrorAndNothingStarts)
{
    // closeInput as Firefox does at the latest; a complete length needs no end.
    const struct { const char* name; std::string input; bool closeInput; const char* code; bool breakawayOk = true; }
        cases[] = {
        {"a job without breakaway", Framed(Request("example.org", "T", "en")), false, "no-breakaway", false},
        {"a length over 64 KiB", Length(64 * 1024 + 1), false, "bad-length"},
        {"a length cut short", std::string("\x10\x00", 2), true, "truncated"},
        {"a body cut short", Length(100) + "{\"site\":", true, "truncated"},
        {"invalid UTF-8", Framed("{\"site\":\"a.org\",\"title\":\"\xC0\xAF\",\"language\":\"en\"}"), false,
         "bad-encoding"},
        {"an array", Framed("[\"a.org\",\"T\",\"en\"]"), false, "bad-json"},
        {"a field missing", Framed("{\"site\":\"a.org\",\"title\":\"T\"}"), false, "bad-fields"},
        {"a site with quotes", Framed(Request("\\\"a.org\\\"", "T", "en")), false, "bad-site"},
        {"a title with CR", Framed(Request("a.org", "T\\r", "en")), false, "bad-title"},
        {"a language that is no tag", Framed(Request("a.org", "T", "en_US!")), false, "bad-language"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver::FirefoxHost host(driver::ProgramPath(L"" HALVANE_HOST_EXE), c.breakawayOk);
        host.Post(c.input);
        if (c.closeInput)
            host.ClosePort();
        EXPECT_EQ(host.WaitForExit(kTimeoutMs), 1u) << "259 (STILL_ACTIVE): the host was still waiting";
        std::string body;
        ASSERT_TRUE(host.Receive(&body, kTimeoutMs));
        rapidjson::Document message;
        message.Parse(body.c_str());
        ASSERT_TRUE(message.IsObject()) << body;
        EXPECT_STREQ(message["event"].GetString(), "error");
        ASSERT_TRUE(message["error"].IsString());
        EXPECT_STREQ(message["error"].GetString(), c.code);
        EXPECT_TRUE(message["message"].IsString());
        EXPECT_TRUE(host.OutputEnded(kTimeoutMs)) << "more than one message";
        EXPECT_TRUE(NothingLeftRunning(c.name)) << "a refused request started Halvane";
    }
}

const wchar_t kHostKey[] = L"" HALVANE_HOST_KEY;

// The key's default value; empty when there is no key.
std::wstring RegisteredManifest()
{
    wchar_t value[MAX_PATH * 2] = {};
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kHostKey, nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
        return L"";
    return value;
}

// A copy of the host in a folder of its own, as a zip unpacks it: a space and
// a letter outside ASCII in its path, which the manifest must keep.
struct HostRegistration : testing::Test {
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"Halvane h\xE4lvane " + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        host_ = folder_ + L"\\" HALVANE_HOST_EXE;
        manifest_ = folder_ + L"\\" HALVANE_HOST_MANIFEST;
        ASSERT_TRUE(CopyFileW(driver::ProgramPath(L"" HALVANE_HOST_EXE).c_str(), host_.c_str(), FALSE));
        RegDeleteKeyW(HKEY_CURRENT_USER, kHostKey);
    }
    void TearDown() override
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, kHostKey);
        DeleteFileW(manifest_.c_str());
        DeleteFileW(host_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    DWORD Run(const wchar_t* option)
    {
        driver::ScopedProcess host(driver::Launch(option, host_));
        return host.WaitForExit(kTimeoutMs);
    }

    std::wstring folder_, host_, manifest_;
};

// The installed copy's registration is not this copy's to remove.
TEST_F(HostRegistration, RegisterWritesTheManifestAndTheKeyAndUnregisterRemovesOnlyItsOwn)
{
    ASSERT_EQ(Run(L"--register"), 0u);
    EXPECT_EQ(RegisteredManifest(), manifest_);
    std::ifstream file(std::filesystem::path(manifest_), std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    file.close();
    rapidjson::Document manifest;
    manifest.Parse(text.c_str());
    ASSERT_TRUE(manifest.IsObject()) << text;
    EXPECT_EQ(string_tables::Narrow(host_), manifest["path"].GetString());  // the rest: HostManifest's unit test

    EXPECT_EQ(Run(L"--unregister"), 0u);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kHostKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND) << "the key stays";
    EXPECT_EQ(GetFileAttributesW(manifest_.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Run(L"--unregister"), 0u) << "unregistering twice is no fault";

    ASSERT_EQ(Run(L"--register"), 0u);
    std::wstring other = driver::ProgramPath(L"halvane.exe");  // any file that exists
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kHostKey, nullptr, REG_SZ, other.c_str(),
                              static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(Run(L"--unregister"), 0u);
    EXPECT_EQ(RegisteredManifest(), other);
    EXPECT_EQ(GetFileAttributesW(manifest_.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
