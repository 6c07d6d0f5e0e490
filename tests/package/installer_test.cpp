// The Windows Installer package as a user gets it: installed, upgraded and
// removed by msiexec, quietly, in the private prefix that installer_test.sh
// made, and looked at afterwards through the installer's own API, the
// registry, the shell's shortcut reader and the installed program itself.
//
//   installer_test.exe [gtest flags] CURRENT.msi NEXT.msi CURRENT_VERSION NEXT_VERSION LANGUAGE
//
// LANGUAGE is the code the Start-menu shortcut is to pass in the prefix's locale.
#include "driver.h"
#include "string_tables.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace {

using string_tables::Narrow;

struct Arguments {
    std::wstring msi, nextMsi, version, nextVersion, language;
} args;

const wchar_t kUpgradeCode[] = L"{BA6F122D-F40A-4519-8075-6952C9A171EE}";
const wchar_t kAppPathsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\halvane.exe";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const DWORD kMsiexecTimeoutMs = 60000;

DWORD Msiexec(const std::wstring& action, const std::wstring& package)
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    driver::ScopedProcess msiexec(driver::Launch(action + L" \"" + package + L"\" /qn", std::wstring(system) + L"\\msiexec.exe"));
    return msiexec.WaitForExit(kMsiexecTimeoutMs);
}

std::wstring Folder(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring InstallFolder() { return Folder(CSIDL_LOCAL_APPDATA) + L"\\Programs\\Halvane"; }
std::wstring InstalledExe() { return InstallFolder() + L"\\halvane.exe"; }
std::wstring ShortcutPath() { return Folder(CSIDL_PROGRAMS) + L"\\Halvane.lnk"; }

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The products installed under Halvane's upgrade code (product codes).
std::vector<std::wstring> InstalledProducts()
{
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, i, code) == ERROR_SUCCESS; ++i)
        products.push_back(code);
    return products;
}

std::wstring ProductInfo(const std::wstring& product, const wchar_t* property)
{
    wchar_t value[MAX_PATH] = L"";
    DWORD length = MAX_PATH;
    if (MsiGetProductInfoW(product.c_str(), property, value, &length) != ERROR_SUCCESS)
        return L"(none)";
    return value;
}

std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view = 0)
{
    HKEY opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS)
        return L"(none)";
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof(value) - sizeof(wchar_t), type = 0;
    LONG result = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    return result == ERROR_SUCCESS && type == REG_SZ ? value : L"(none)";
}

// The product's entry in the installed-programs list, wherever this system
// keeps a per-user product's entry (either hive, either registry view).
std::wstring UninstallEntry(const std::wstring& product, const wchar_t* name)
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            std::wstring value = ReadString(root, kUninstallKey + product, name, view);
            if (value != L"(none)")
                return value;
        }
    }
    return L"(none)";
}

std::wstring ProductVersionOf(const std::wstring& path)
{
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    void* value = nullptr;
    UINT length = 0;
    if (info.empty() || !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) ||
        !VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &value, &length))
        return L"(none)";
    return static_cast<const wchar_t*>(value);
}

struct Shortcut {
    std::wstring target, arguments;
};

bool ReadShortcut(const std::wstring& path, Shortcut* shortcut)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    bool read = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t target[MAX_PATH] = L"", arguments[MAX_PATH] = L"";
        read = SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
               SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, 0)) &&
               SUCCEEDED(link->GetArguments(arguments, MAX_PATH));
        shortcut->target = target;
        shortcut->arguments = arguments;
        file->Release();
    }
    link->Release();
    return read;
}

// Everything the installed product shows: the one product of Halvane's
// upgrade code in this version, its program, entries and shortcut.
void ExpectInstalled(const std::wstring& version)
{
    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u) << "Halvane is installed " << products.size() << " times";
    const std::wstring& product = products[0];
    EXPECT_EQ(ProductInfo(product, INSTALLPROPERTY_VERSIONSTRING), version);
    EXPECT_EQ(ProductInfo(product, INSTALLPROPERTY_INSTALLEDPRODUCTNAME), L"Halvane");
    EXPECT_EQ(ProductInfo(product, INSTALLPROPERTY_PUBLISHER), L"Marrowin");
    EXPECT_EQ(ProductInfo(product, INSTALLPROPERTY_ASSIGNMENTTYPE), L"0") << "installed for every user";
    EXPECT_TRUE(Exists(ProductInfo(product, INSTALLPROPERTY_PRODUCTICON))) << "no icon in the installed-programs list";
    EXPECT_EQ(UninstallEntry(product, L"DisplayName"), L"Halvane");
    EXPECT_EQ(UninstallEntry(product, L"Publisher"), L"Marrowin");
    EXPECT_EQ(UninstallEntry(product, L"DisplayVersion"), version);

    EXPECT_EQ(ProductVersionOf(InstalledExe()), version) << Narrow(InstalledExe());
    EXPECT_TRUE(SamePath(ReadString(HKEY_CURRENT_USER, kAppPathsKey, nullptr), InstalledExe()))
        << Narrow(ReadString(HKEY_CURRENT_USER, kAppPathsKey, nullptr));
    Shortcut shortcut;
    ASSERT_TRUE(ReadShortcut(ShortcutPath(), &shortcut)) << "no shortcut " << Narrow(ShortcutPath());
    EXPECT_TRUE(SamePath(shortcut.target, InstalledExe())) << Narrow(shortcut.target);
    EXPECT_EQ(shortcut.arguments, args.language) << "user language " << GetUserDefaultLangID();
}

TEST(Installer, InstallsForTheUserUpgradesInPlaceAndRemovesAllButTheDecisions)
{
    driver::DeleteDecisionsKey();
    driver::WriteDword(L"denied.example", 0);
    const driver::KeyContents decisions = driver::ReadDecisionsKey();
    std::wstring first;

    {
        SCOPED_TRACE("install " + Narrow(args.version));
        ASSERT_EQ(Msiexec(L"/i", args.msi), 0u);
        ExpectInstalled(args.version);
        ASSERT_FALSE(InstalledProducts().empty());
        first = InstalledProducts()[0];
        driver::ScopedProcess halvane(driver::Launch(L"en denied.example \"Some Page\"", InstalledExe()));
        EXPECT_EQ(halvane.WaitForExit(10000), 0u) << "the installed program on a remembered Deny";
        EXPECT_EQ(driver::ReadDecisionsKey(), decisions);
    }
    {
        SCOPED_TRACE("upgrade to " + Narrow(args.nextVersion));
        ASSERT_EQ(Msiexec(L"/i", args.nextMsi), 0u);
        ExpectInstalled(args.nextVersion);
        EXPECT_EQ(UninstallEntry(first, L"DisplayName"), L"(none)") << "the earlier version is still listed";
        EXPECT_EQ(driver::ReadDecisionsKey(), decisions);
    }
    {
        SCOPED_TRACE("older over newer");
        EXPECT_NE(Msiexec(L"/i", args.msi), 0u) << "an earlier version replaced a later one";
        ExpectInstalled(args.nextVersion);
    }
    {
        SCOPED_TRACE("uninstall");
        ASSERT_EQ(InstalledProducts().size(), 1u);
        std::wstring second = InstalledProducts()[0];
        ASSERT_EQ(Msiexec(L"/x", args.nextMsi), 0u);
        EXPECT_TRUE(InstalledProducts().empty());
        EXPECT_EQ(UninstallEntry(second, L"DisplayName"), L"(none)");
        EXPECT_FALSE(Exists(InstallFolder())) << Narrow(InstallFolder());
        EXPECT_FALSE(Exists(ShortcutPath()));
        HKEY key;
        EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, kAppPathsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_EQ(driver::ReadDecisionsKey(), decisions) << "the remembered decisions are the user's";
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc != 6) {
        fprintf(stderr, "usage: installer_test.exe CURRENT.msi NEXT.msi CURRENT_VERSION NEXT_VERSION LANGUAGE\n");
        return 2;
    }
    args = {argv[1], argv[2], argv[3], argv[4], argv[5]};
    CoInitialize(nullptr);
    return RUN_ALL_TESTS();
}
