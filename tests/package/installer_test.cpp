// The Windows Installer package as a user gets it: installed, upgraded and
// removed by msiexec, quietly, in the private prefix that installer_test.sh
// made, and looked at afterwards through the installer's own API, the
// registry, the shell's shortcut reader and the installed program itself.
//
//   installer_test.exe [gtest flags] CURRENT.msi OTHER_ARCH.msi SAME_VERSION.msi NEXT.msi
//                      ARCH CURRENT_VERSION NEXT_VERSION LANGUAGE
//
// OTHER_ARCH.msi is the same version for the other architecture, SAME_VERSION.msi
// another package of the current version (holding the later-numbered exe).
// LANGUAGE is the code the Start-menu shortcut is to pass in the prefix's locale.
#include "driver.h"
#include "host/host_identity.h"
#include "string_tables.h"
#include "version_record.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using string_tables::Narrow;

struct Arguments {
    std::wstring msi, otherArchMsi, sameVersionMsi, nextMsi, arch, version, nextVersion, language;
} args;

const wchar_t kUpgradeCode[] = L"{BA6F122D-F40A-4519-8075-6952C9A171EE}";
const wchar_t kAppPathsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\halvane.exe";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kHostKey[] = L"" HALVANE_HOST_KEY;
const DWORD kMsiexecTimeoutMs = 60000;

DWORD Msiexec(const std::wstring& action, const std::wstring& package, const std::wstring& properties = L"")
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    driver::ScopedProcess msiexec(driver::Launch(action + L" \"" + package + L"\" /qn " + properties,
                                                 std::wstring(system) + L"\\msiexec.exe"));
    return msiexec.WaitForExit(kMsiexecTimeoutMs);
}

std::wstring Folder(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring ProgramsFolder() { return Folder(CSIDL_LOCAL_APPDATA) + L"\\Programs"; }
std::wstring InstallFolder() { return ProgramsFolder() + L"\\Halvane"; }
std::wstring InstalledExe() { return InstallFolder() + L"\\halvane.exe"; }
std::wstring ShortcutPath() { return Folder(CSIDL_PROGRAMS) + L"\\Halvane.lnk"; }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

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

// A string value, or a DWORD in decimal.
std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view = 0)
{
    HKEY opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS)
        return L"(none)";
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof(value) - sizeof(wchar_t), type = 0;
    LONG result = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    if (result == ERROR_SUCCESS && type == REG_DWORD)
        return std::to_wstring(*reinterpret_cast<DWORD*>(value));
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

// A summary information property of a package: a number, or text.
std::wstring Summary(const std::wstring& package, UINT property)
{
    MSIHANDLE summary = 0;
    if (MsiGetSummaryInformationW(0, package.c_str(), 0, &summary) != ERROR_SUCCESS)
        return L"(no summary)";
    UINT type = 0;
    INT number = 0;
    FILETIME time;
    wchar_t text[MAX_PATH] = L"";
    DWORD length = MAX_PATH;
    UINT result = MsiSummaryInfoGetPropertyW(summary, property, &type, &number, &time, text, &length);
    MsiCloseHandle(summary);
    if (result != ERROR_SUCCESS)
        return L"(none)";
    return type == VT_I2 || type == VT_I4 ? std::to_wstring(number) : text;
}

std::wstring FileRecordVersion(const std::wstring& package, const wchar_t* file)
{
    MSIHANDLE database = 0, view = 0, record = 0;
    std::wstring version = L"(none)";
    const std::wstring query = std::wstring(L"SELECT `Version` FROM `File` WHERE `File` = '") + file + L"'";
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) == ERROR_SUCCESS &&
        MsiDatabaseOpenViewW(database, query.c_str(), &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS &&
        MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t text[64] = L"";
        DWORD length = 64;
        if (MsiRecordGetStringW(record, 1, text, &length) == ERROR_SUCCESS)
            version = text;
    }
    for (MSIHANDLE handle : {record, view, database})
        if (handle)
            MsiCloseHandle(handle);
    return version;
}

std::wstring InstalledProduct()
{
    std::vector<std::wstring> products = InstalledProducts();
    return products.size() == 1 ? products[0] : L"(not one)";
}

// Everything the installed product shows: the one product of Halvane's
// upgrade code in this version, its program (whose own version may differ),
// entries and shortcut.
void ExpectInstalled(const std::wstring& version, const std::wstring& exeVersion, const std::wstring& language)
{
    const std::wstring product = InstalledProduct();
    ASSERT_NE(product, L"(not one)") << "Halvane is installed " << InstalledProducts().size() << " times";
    EXPECT_EQ(ProductInfo(product, INSTALLPROPERTY_VERSIONSTRING), version);
    EXPECT_EQ(ProductInfo(product, INSTALLPROPERTY_INSTALLEDPRODUCTNAME), L"Halvane");
    EXPECT_EQ(ProductInfo(product, INSTALLPROPERTY_PUBLISHER), L"Marrowin");
    EXPECT_EQ(ProductInfo(product, INSTALLPROPERTY_ASSIGNMENTTYPE), L"0") << "installed for every user";
    EXPECT_TRUE(Exists(ProductInfo(product, INSTALLPROPERTY_PRODUCTICON))) << "no icon in the installed-programs list";
    EXPECT_EQ(UninstallEntry(product, L"DisplayName"), L"Halvane");
    EXPECT_EQ(UninstallEntry(product, L"Publisher"), L"Marrowin");
    EXPECT_EQ(UninstallEntry(product, L"DisplayVersion"), version);
    EXPECT_TRUE(SamePath(UninstallEntry(product, L"InstallLocation"), InstallFolder() + L"\\"))
        << Narrow(UninstallEntry(product, L"InstallLocation"));
    EXPECT_EQ(UninstallEntry(product, L"NoRepair"), L"1");
    EXPECT_EQ(UninstallEntry(product, L"NoModify"), L"1");

    EXPECT_EQ(version_record::Read(InstalledExe()).Text(L"ProductVersion"), exeVersion)
        << Narrow(InstalledExe());
    for (const wchar_t* file : {L"\\LICENSE.txt", L"\\THIRD-PARTY-NOTICES.txt", L"\\" HALVANE_HOST_EXE})
        EXPECT_TRUE(Exists(InstallFolder() + file)) << Narrow(file);
    // Firefox finds the host as the key names it: the manifest, and the host beside it.
    const std::wstring manifest = InstallFolder() + L"\\" HALVANE_HOST_MANIFEST;
    EXPECT_TRUE(SamePath(ReadString(HKEY_CURRENT_USER, kHostKey, nullptr), manifest))
        << Narrow(ReadString(HKEY_CURRENT_USER, kHostKey, nullptr));
    std::ifstream file(manifest.c_str(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    for (const char* field : {"\"name\": \"" HALVANE_HOST_NAME "\"", "\"path\": \"" HALVANE_HOST_EXE "\"",
                              "\"type\": \"stdio\"", "\"allowed_extensions\": [\n    \"" HALVANE_EXTENSION_ID "\"\n  ]"})
        EXPECT_NE(text.find(field), std::string::npos) << field << " not in\n" << text;
    EXPECT_TRUE(SamePath(ReadString(HKEY_CURRENT_USER, kAppPathsKey, nullptr), InstalledExe()))
        << Narrow(ReadString(HKEY_CURRENT_USER, kAppPathsKey, nullptr));
    Shortcut shortcut;
    ASSERT_TRUE(ReadShortcut(ShortcutPath(), &shortcut)) << "no shortcut " << Narrow(ShortcutPath());
    EXPECT_TRUE(SamePath(shortcut.target, InstalledExe())) << Narrow(shortcut.target);
    EXPECT_EQ(shortcut.arguments, language) << "user language " << GetUserDefaultLangID();
}

TEST(Installer, AsksForInstaller2VersionsItsExesAndTakesItsCodesFromItsContents)
{
    const std::wstring otherArch = args.arch == L"x64" ? L"x86" : L"x64";
    const struct {
        const std::wstring& msi;
        std::wstring template_;
    } packages[] = {
        {args.msi, (args.arch == L"x64" ? L"x64" : L"Intel") + std::wstring(L";1033")},
        {args.otherArchMsi, (otherArch == L"x64" ? L"x64" : L"Intel") + std::wstring(L";1033")},
    };
    for (const auto& package : packages) {
        SCOPED_TRACE(Narrow(package.msi));
        EXPECT_EQ(Summary(package.msi, PID_PAGECOUNT), L"200") << "the Windows Installer version it asks for";
        EXPECT_EQ(Summary(package.msi, PID_TEMPLATE), package.template_);
        EXPECT_EQ(Summary(package.msi, PID_WORDCOUNT), L"10") << "compressed, no elevation";
        for (const wchar_t* exe : {L"halvane.exe", L"halvane_host.exe"})
            EXPECT_EQ(FileRecordVersion(package.msi, exe), args.version + L".0") << Narrow(exe) << "'s file version";
    }
    const std::wstring code = Summary(args.msi, PID_REVNUMBER);
    EXPECT_EQ(code.size(), 38u) << Narrow(code);
    EXPECT_NE(code, Summary(args.otherArchMsi, PID_REVNUMBER));
    EXPECT_NE(code, Summary(args.sameVersionMsi, PID_REVNUMBER)) << "another exe, the same package code";
}

TEST(Installer, RefusesToInstallForEveryone)
{
    for (const wchar_t* properties : {L"ALLUSERS=1", L"ALLUSERS=2 MSIINSTALLPERUSER=1"}) {
        SCOPED_TRACE(Narrow(properties));
        EXPECT_NE(Msiexec(L"/i", args.msi, properties), 0u);
        EXPECT_TRUE(InstalledProducts().empty());
        EXPECT_FALSE(Exists(InstallFolder()));
    }
}

TEST(Installer, InstallsForTheUserUpgradesInPlaceAndRemovesAllButTheDecisions)
{
    driver::DeleteDecisionsKey();
    driver::WriteDword(L"denied.example", 0);
    const driver::KeyContents decisions = driver::ReadDecisionsKey();
    const bool programsFolder = Exists(ProgramsFolder());  // a user's Windows may have other programs there
    std::wstring first;

    {
        SCOPED_TRACE("install " + Narrow(args.version) + ", a command line for a language");
        ASSERT_EQ(Msiexec(L"/i", args.msi, L"HALVANE_LANGUAGE=\"de example.org My Page\""), 0u);
        ExpectInstalled(args.version, args.version, L"en");
        first = InstalledProduct();
        driver::ScopedProcess halvane(driver::Launch(L"en denied.example \"Some Page\"", InstalledExe()));
        EXPECT_EQ(halvane.WaitForExit(10000), 0u) << "the installed program on a remembered Deny";
        EXPECT_EQ(driver::ReadDecisionsKey(), decisions);
    }
    // Each replaces the one installed: the other architecture (and back), and
    // another package of the same version.
    const struct {
        const char* what;
        const std::wstring& msi;
        const wchar_t* properties;
        const std::wstring& exeVersion;
        std::wstring language;
        bool firstProduct;
    } sameVersion[] = {
        {"the other architecture over it", args.otherArchMsi, L"", args.version, args.language, false},
        {"back to this architecture", args.msi, L"HALVANE_LANGUAGE=fr", args.version, L"fr", true},
        {"another package of the same version", args.sameVersionMsi, L"", args.nextVersion, args.language, false},
    };
    for (const auto& step : sameVersion) {
        SCOPED_TRACE(step.what);
        ASSERT_EQ(Msiexec(L"/i", step.msi, step.properties), 0u);
        ExpectInstalled(args.version, step.exeVersion, step.language);
        EXPECT_EQ(InstalledProduct() == first, step.firstProduct);
    }
    {
        SCOPED_TRACE("upgrade to " + Narrow(args.nextVersion));
        ASSERT_EQ(Msiexec(L"/i", args.nextMsi), 0u);
        ExpectInstalled(args.nextVersion, args.nextVersion, args.language);
        EXPECT_EQ(UninstallEntry(first, L"DisplayName"), L"(none)") << "the earlier version is still listed";
        EXPECT_EQ(driver::ReadDecisionsKey(), decisions);
    }
    {
        SCOPED_TRACE("older over newer");
        EXPECT_NE(Msiexec(L"/i", args.msi), 0u) << "an earlier version replaced a later one";
        ExpectInstalled(args.nextVersion, args.nextVersion, args.language);
    }
    {
        SCOPED_TRACE("uninstall");
        const std::wstring second = InstalledProduct();
        ASSERT_NE(second, L"(not one)");
        ASSERT_EQ(Msiexec(L"/x", args.nextMsi), 0u);
        EXPECT_TRUE(InstalledProducts().empty());
        EXPECT_EQ(UninstallEntry(second, L"DisplayName"), L"(none)");
        EXPECT_EQ(Exists(ProgramsFolder()), programsFolder) << "the package made it: " << Narrow(ProgramsFolder());
        EXPECT_FALSE(Exists(ShortcutPath()));
        for (const wchar_t* installed : {kAppPathsKey, kHostKey, L"Software\\Marrowin\\Halvane"}) {
            HKEY key;
            EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, installed, 0, KEY_READ, &key), ERROR_SUCCESS) << Narrow(installed);
        }
        EXPECT_EQ(driver::ReadDecisionsKey(), decisions) << "the remembered decisions are the user's";
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc != 9) {
        fprintf(stderr, "usage: installer_test.exe CURRENT.msi OTHER_ARCH.msi SAME_VERSION.msi NEXT.msi ARCH"
                        " CURRENT_VERSION NEXT_VERSION LANGUAGE\n");
        return 2;
    }
    args = {argv[1], argv[2], argv[3], argv[4], argv[5], argv[6], argv[7], argv[8]};
    CoInitialize(nullptr);
    return RUN_ALL_TESTS();
}
