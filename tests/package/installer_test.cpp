// The Windows Installer package as a user gets it: installed, upgraded and
// removed by msiexec, quietly, in the private prefix that installer_test.sh
// made, and looked at afterwards through the installer's own API, the
// registry, the shell's shortcut reader and the installed program itself.
//
//   installer_test.exe [gtest flags] CURRENT.msi A_DAY_LATER.msi OTHER_ARCH.msi SAME_VERSION.msi
//                      NEXT.msi ARCH CURRENT_VERSION NEXT_VERSION LANGUAGE
//
// installer_test.sh says what each package holds; a package's path may be
// relative to the current folder. LANGUAGE is the code the Start-menu shortcut
// is to pass in the prefix's locale. A test that fails removes what it installed.
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
    std::wstring msi, aDayLaterMsi, otherArchMsi, sameVersionMsi, nextMsi, arch, version, nextVersion, language;
} args;

const wchar_t kUpgradeCode[] = L"{BA6F122D-F40A-4519-8075-6952C9A171EE}";
const wchar_t kAppPathsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\halvane.exe";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kHostKey[] = L"" HALVANE_HOST_KEY;
const DWORD kMsiexecTimeoutMs = 60000;
// What msiexec returns when a launch condition refuses the install.
const DWORD kInstallFailure = 1603;

DWORD Msiexec(const std::wstring& action, const std::wstring& package, const std::wstring& properties = L"")
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    driver::ScopedProcess msiexec(driver::Launch(action + L" \"" + package + L"\" /qn /norestart " + properties,
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

// The machine and the image version a PE file's headers state (at the same
// place in 32-bit and 64-bit headers).
std::pair<WORD, WORD> MachineAndImageVersion(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS32 nt{};
    file.read(reinterpret_cast<char*>(&dos), sizeof(dos)).seekg(dos.e_lfanew);
    file.read(reinterpret_cast<char*>(&nt), sizeof(nt));
    return {nt.FileHeader.Machine, nt.OptionalHeader.MajorImageVersion};
}

WORD Machine(const std::wstring& arch) { return arch == L"x64" ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386; }

ULONGLONG LastWritten(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return ULARGE_INTEGER{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}}.QuadPart;
}

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

// Whether this Windows installs x64 packages: a 32-bit Windows refuses them (1633).
bool InstallsX64()
{
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

// Whatever a failed test left installed is removed, so that the user's
// Windows does not keep a Halvane whose keys the tests bundle then deletes.
class Installer : public testing::Test {
protected:
    void TearDown() override
    {
        for (const std::wstring& product : InstalledProducts()) {
            ADD_FAILURE() << "left installed, now removed: " << Narrow(product);
            Msiexec(L"/x", product);
        }
    }
};

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
    for (const wchar_t* file :
         {L"\\LICENSE.txt", L"\\README.txt", L"\\THIRD-PARTY-NOTICES.txt", L"\\" HALVANE_HOST_EXE})
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

TEST_F(Installer, AsksForInstaller2VersionsItsExesAndTakesItsCodesFromItsBytes)
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
    }
    // installer_test.sh reads the exes' file versions and checks that the product codes differ too.
    const std::wstring code = Summary(args.msi, PID_REVNUMBER);
    EXPECT_EQ(code.size(), 38u) << Narrow(code);
    for (const std::wstring* other : {&args.aDayLaterMsi, &args.otherArchMsi, &args.sameVersionMsi})
        EXPECT_NE(code, Summary(*other, PID_REVNUMBER)) << Narrow(*other);
}

// Windows 7 on clears ALLUSERS=2 before the launch condition when
// MSIINSTALLPERUSER=1, for a per-user install; Wine keeps it, so that pair is
// tried in the form Windows gives it (ALLUSERS="" last: Wine's msiexec drops
// the quotes and would take the next word for its value).
TEST_F(Installer, RefusesToInstallForEveryoneAndInstallsPerUserAsWindowsSevenAsksIt)
{
    for (const wchar_t* properties : {L"ALLUSERS=1", L"ALLUSERS=2"}) {
        SCOPED_TRACE(Narrow(properties));
        EXPECT_EQ(Msiexec(L"/i", args.msi, properties), kInstallFailure);
        EXPECT_TRUE(InstalledProducts().empty());
        EXPECT_FALSE(Exists(InstallFolder()));
    }
    ASSERT_EQ(Msiexec(L"/i", args.msi, L"MSIINSTALLPERUSER=1 ALLUSERS=\"\""), 0u);
    EXPECT_EQ(ProductInfo(InstalledProduct(), INSTALLPROPERTY_ASSIGNMENTTYPE), L"0") << "installed for every user";
    EXPECT_EQ(Msiexec(L"/x", args.msi), 0u);
    EXPECT_TRUE(InstalledProducts().empty());
}

TEST_F(Installer, InstallsForTheUserUpgradesInPlaceAndRemovesAllButTheDecisions)
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
    // Each replaces the one installed, its exes of the same file version with
    // it: the same files built a day later (so stamped a day later), the other
    // architecture (and back), and another build.
    const WORD machine = Machine(args.arch), otherMachine = Machine(args.arch == L"x64" ? L"x86" : L"x64");
    const struct {
        const char* what;
        const std::wstring& msi;
        const wchar_t* properties;
        std::wstring language;
        bool firstProduct, laterFiles;
        WORD machine, imageVersion;
    } sameVersion[] = {
        {"the same files built a day later", args.aDayLaterMsi, L"", args.language, false, true, machine, 0},
        {"the other architecture over it", args.otherArchMsi, L"", args.language, false, false, otherMachine, 0},
        {"back to this architecture", args.msi, L"HALVANE_LANGUAGE=fr", L"fr", true, false, machine, 0},
        {"another build of the same version", args.sameVersionMsi, L"", args.language, false, false, machine, 1},
    };
    const char* notHere = nullptr;
    for (const auto& step : sameVersion) {
        SCOPED_TRACE(step.what);
        if (step.machine == IMAGE_FILE_MACHINE_AMD64 && !InstallsX64()) {
            notHere = step.what;
            continue;
        }
        const std::wstring before = InstalledProduct();
        const ULONGLONG written = LastWritten(InstalledExe());
        ASSERT_EQ(Msiexec(L"/i", step.msi, step.properties), 0u);
        ExpectInstalled(args.version, args.version, step.language);
        EXPECT_EQ(InstalledProduct() == first, step.firstProduct);
        EXPECT_EQ(UninstallEntry(before, L"DisplayName"), L"(none)") << "the one replaced is still listed";
        EXPECT_EQ(LastWritten(InstalledExe()) > written, step.laterFiles);
        EXPECT_EQ(MachineAndImageVersion(InstalledExe()), std::make_pair(step.machine, step.imageVersion));
        EXPECT_EQ(MachineAndImageVersion(InstallFolder() + L"\\" HALVANE_HOST_EXE).first, step.machine);
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
        EXPECT_EQ(Msiexec(L"/i", args.msi), kInstallFailure) << "an earlier version replaced a later one";
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
    if (notHere)
        GTEST_SKIP() << "all but one step ran: " << notHere << " needs a 64-bit Windows, as it installs the x64 package";
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc != 10) {
        fprintf(stderr, "usage: installer_test.exe CURRENT.msi A_DAY_LATER.msi OTHER_ARCH.msi SAME_VERSION.msi NEXT.msi"
                        " ARCH CURRENT_VERSION NEXT_VERSION LANGUAGE\n");
        return 2;
    }
    auto full = [](const wchar_t* path) {
        wchar_t full[MAX_PATH];
        DWORD length = GetFullPathNameW(path, MAX_PATH, full, nullptr);
        return length && length < MAX_PATH ? std::wstring(full) : std::wstring(path);
    };
    args = {full(argv[1]), full(argv[2]), full(argv[3]), full(argv[4]), full(argv[5]), argv[6], argv[7], argv[8], argv[9]};
    CoInitialize(nullptr);
    return RUN_ALL_TESTS();
}
