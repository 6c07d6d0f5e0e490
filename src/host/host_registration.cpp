// --register and --unregister, for a host that came in the zip: the manifest
// beside the program, and HKCU\Software\Mozilla\NativeMessagingHosts\NAME
// whose default value is the manifest's full path. The installer does the same
// for the copy it installs.
#include "host/host_identity.h"
#include "host/host_request.h"
#include "host/host_win32.h"

#include <windows.h>

namespace {

const wchar_t kHostKey[] = L"" HALVANE_HOST_KEY;

// To the console when there is one (any character shows), else as UTF-8.
void Say(const std::wstring& line)
{
    std::wstring text = line + L"\r\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode, written;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::string bytes;
    if (Utf8FromUtf16(text, &bytes))
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int Fail(const std::wstring& what, DWORD error)
{
    Say(what + L" (" + Utf16FromUtf8(ErrorNumber(error)) + L")");
    return 1;
}

std::wstring ManifestPath(const std::wstring& exe)
{
    return exe.substr(0, exe.rfind(L'\\') + 1) + L"" HALVANE_HOST_MANIFEST;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return wrote && written == bytes.size();
}

// The manifest path the key names; false when there is no key.
bool RegisteredManifest(std::wstring* path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kHostKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    std::wstring value(MaxCommandLineChars + 1, L'\0');
    DWORD type = 0, bytes = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        bytes = 0;
    RegCloseKey(key);
    value.resize(bytes / sizeof(wchar_t));
    path->assign(value.c_str());  // up to its terminator, which may or may not be stored
    return true;
}

}  // namespace

int RegisterHost()
{
    std::wstring exe;
    std::string exeText;
    if (!ModulePath(&exe) || !Utf8FromUtf16(exe, &exeText))
        return Fail(L"Cannot tell where this program is", ERROR_BAD_PATHNAME);
    std::wstring manifest = ManifestPath(exe);
    if (!WriteWholeFile(manifest, HostManifest(exeText)))
        return Fail(L"Cannot write " + manifest, GetLastError());

    HKEY key;
    LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, kHostKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(manifest.c_str()),
                                static_cast<DWORD>((manifest.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS)
        return Fail(L"Cannot write HKEY_CURRENT_USER\\" + std::wstring(kHostKey), static_cast<DWORD>(result));
    Say(L"Registered for Firefox: " + manifest);
    return 0;
}

// The key goes only when it names this manifest, or one that no longer exists:
// another copy of Halvane (the installed one, say) keeps its registration.
int UnregisterHost()
{
    std::wstring exe;
    if (!ModulePath(&exe))
        return Fail(L"Cannot tell where this program is", ERROR_BAD_PATHNAME);
    std::wstring manifest = ManifestPath(exe);
    std::wstring registered;
    if (RegisteredManifest(&registered)) {
        if (lstrcmpiW(registered.c_str(), manifest.c_str()) == 0 ||
            GetFileAttributesW(registered.c_str()) == INVALID_FILE_ATTRIBUTES) {
            LONG result = RegDeleteKeyW(HKEY_CURRENT_USER, kHostKey);
            if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
                return Fail(L"Cannot remove HKEY_CURRENT_USER\\" + std::wstring(kHostKey), static_cast<DWORD>(result));
        } else {
            Say(L"Left the registration of another copy: " + registered);
        }
    }
    if (!DeleteFileW(manifest.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return Fail(L"Cannot remove " + manifest, GetLastError());
    Say(L"Unregistered: " + manifest);
    return 0;
}
