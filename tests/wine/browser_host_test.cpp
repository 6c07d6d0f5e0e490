// halvane-host.exe started as Firefox starts a native-messaging host: suspended, without a
// window, in a job that lets children break away and ends with the host. Then its registration.
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

// Reads until the pipe breaks or the time-out passes, never blocking on it.
bool ReadToEnd(HANDLE pipe, std::string* out)
{
    return driver::WaitUntil(
        [&] {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
                return GetLastError() == ERROR_BROKEN_PIPE;
            if (available) {
                std::string chunk(available, '\0');
                DWORD got = 0;
                if (ReadFile(pipe, &chunk[0], available, &got, nullptr))
                    out->append(chunk, 0, got);
            }
            return false;
        },
        kTimeoutMs);
}

// Runs the host on the input: it must end by itself with exitCode, leave its standard
// output to nobody else and write one framed reply. The job is kept open when asked for.
void RunHostAsFirefox(const std::string& input, bool closeInput, bool breakawayOk, DWORD exitCode,
                      rapidjson::Document* reply, HANDLE* keepJob = nullptr)
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    ASSERT_NE(job, nullptr);
    if (keepJob)
        *keepJob = job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = breakawayOk ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0;
    ASSERT_TRUE(SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)));
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    ASSERT_TRUE(CreatePipe(&inRead, &inWrite, &inheritable, 0));
    ASSERT_TRUE(CreatePipe(&outRead, &outWrite, &inheritable, 0));
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE errors = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);

    // Firefox passes the manifest's path and the extension's id, and starts the host in its folder.
    std::wstring host = driver::ProgramPath(L"" HALVANE_HOST_EXE);
    std::wstring folder = host.substr(0, host.rfind(L'\\'));
    std::wstring commandLine = L"\"" + host + L"\" \"" + driver::ProgramPath(L"" HALVANE_HOST_MANIFEST) +
                               L"\" " + L"" HALVANE_EXTENSION_ID;
    STARTUPINFOW startup = {sizeof(startup)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errors;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(host.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                  CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &process);
    DWORD startError = GetLastError();
    for (HANDLE handle : {inRead, outWrite, errors})
        CloseHandle(handle);
    std::string output;
    if (started) {
        EXPECT_TRUE(AssignProcessToJobObject(job, process.hProcess));
        ResumeThread(process.hThread);
        DWORD written = 0;
        WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        if (closeInput)
            CloseHandle(std::exchange(inWrite, nullptr));
        DWORD code = driver::WaitForExit({process.hProcess, process.dwProcessId}, kTimeoutMs);
        TerminateJobObject(job, 1);
        EXPECT_EQ(code, exitCode) << "259 (STILL_ACTIVE): the host was still waiting";
        EXPECT_TRUE(ReadToEnd(outRead, &output)) << "something else holds the host's standard output";
        for (HANDLE handle : {process.hThread, process.hProcess})
            CloseHandle(handle);
    }
    for (HANDLE handle : {inWrite, outRead, keepJob ? nullptr : job})
        if (handle)
            CloseHandle(handle);
    ASSERT_TRUE(started) << "cannot start " << string_tables::Narrow(host) << " (error " << startError << ")";

    uint32_t length = 0;
    std::memcpy(&length, output.data(), std::min<size_t>(output.size(), 4));
    ASSERT_TRUE(output.size() >= 4 && output.size() == 4 + size_t(length)) << "not one framed reply: " << output;
    reply->Parse(output.data() + 4, length);
    ASSERT_TRUE(reply->IsObject() && (*reply)["ok"].IsBool()) << output;
}

// Ends a halvane.exe found running; true when there was none.
bool NoHalvaneRuns()
{
    driver::ScopedProcess found(driver::FindProcess(L"halvane.exe"));
    return found.id() == 0;
}

struct BrowserHost : testing::Test {
    void SetUp() override
    {
        driver::DeleteDecisionsKey();
        ASSERT_TRUE(NoHalvaneRuns()) << "a halvane.exe from before was still running";
    }
    void TearDown() override
    {
        SendHalvaneOnTheDefaultRoad();
        driver::DeleteDecisionsKey();
    }
};

// The title carries what the command line must not split or strip: quotes,
// spaces, an ampersand and a character outside ASCII.
TEST_F(BrowserHost, AGoodRequestStartsHalvaneOutsideTheJobWithThePromptAsAsked)
{
    ASSERT_TRUE(SendHalvaneOnTheLocaleRoad());
    rapidjson::Document reply;
    HANDLE job = nullptr;
    ASSERT_NO_FATAL_FAILURE(RunHostAsFirefox(
        Framed(Request("example.org", "\\\"A\\\" & B \xE2\x80\x94 Firefox", "de-AT")), false, true, 0, &reply, &job));
    std::unique_ptr<void, decltype(&CloseHandle)> jobHandle(job, CloseHandle);
    ASSERT_TRUE(reply["ok"].GetBool());
    ASSERT_TRUE(reply["pid"].IsUint());
    EXPECT_EQ(reply.MemberCount(), 2u);

    DWORD id = reply["pid"].GetUint();
    driver::ScopedProcess halvane(
        driver::Process{OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, id), id});
    ASSERT_NE(halvane.get().handle, nullptr) << "Halvane did not outlive the job";
    EXPECT_EQ(halvane.WaitForExit(0), DWORD(STILL_ACTIVE)) << "Halvane ended with the job";
    BOOL inJob = TRUE;
    EXPECT_TRUE(IsProcessInJob(halvane.get().handle, job, &inJob));
    EXPECT_FALSE(inJob);

    HWND prompt = driver::WaitForDialog(id, kTimeoutMs);
    ASSERT_NE(prompt, nullptr) << "no prompt";
    const string_tables::StringTable& german = string_tables::StringsOf(1031);
    EXPECT_EQ(driver::Text(prompt), german[IDS_PROMPT_CAPTION]);
    wchar_t message[1024];
    FormatPromptMessage(german[IDS_PROMPT_MESSAGE].c_str(), L"example.org", L"\"A\" & B \x2014 Firefox", message, 1024);
    EXPECT_EQ(driver::ItemText(prompt, IDC_MESSAGE), message);
    driver::Click(prompt, IDCANCEL);
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), 0u);
}

// Each gets the error reply, the exit code 1, and no Halvane. One request of
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
        rapidjson::Document reply;
        ASSERT_NO_FATAL_FAILURE(RunHostAsFirefox(c.input, c.closeInput, c.breakawayOk, 1, &reply));
        EXPECT_FALSE(reply["ok"].GetBool());
        ASSERT_TRUE(reply["error"].IsString());
        EXPECT_STREQ(reply["error"].GetString(), c.code);
        EXPECT_TRUE(reply["message"].IsString());
        EXPECT_TRUE(NoHalvaneRuns()) << "a refused request started Halvane";
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
