#include "app/system_libraries.h"

#include <wchar.h>

static void* FindInKernel32(const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name));
}

// By bare name the search would look in the program's folder first.
static HMODULE LoadFromSystemFolder(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH + 16];  // the folder, a "\\" and a file name of up to 14 characters
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    size_t nameLength = wcslen(fileName);
    if (length == 0 || length >= MAX_PATH || nameLength > 14)
        return nullptr;
    path[length] = L'\\';
    wmemcpy(path + length + 1, fileName, nameLength + 1);
    return LoadLibraryW(path);
}

LibraryCalls Libraries = {FindInKernel32, LoadFromSystemFolder};

// Both calls are looked up, so the program still starts on systems without
// them (XP; Vista and 7 without the update that brings the first). Where it
// exists, every later load by name, the delay-loaded USER32 and GDI32 and
// whatever system DLLs load for the program, searches the system folder alone.
void SearchSystemFolderOnly()
{
    typedef BOOL(WINAPI * SetDefaultDirectoriesCall)(DWORD);
    typedef BOOL(WINAPI * SetDirectoryCall)(const wchar_t*);
    auto setDefaultDirectories =
        reinterpret_cast<SetDefaultDirectoriesCall>(Libraries.FindSearchCall("SetDefaultDllDirectories"));
    auto setDirectory = reinterpret_cast<SetDirectoryCall>(Libraries.FindSearchCall("SetDllDirectoryW"));
    if (setDefaultDirectories)
        setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (setDirectory)
        setDirectory(L"");
}

// Without the search order kept to the system folder, the program's folder
// stays first for every DLL that is not a known DLL and that a system DLL
// loads by name: for the dialogs, these (dwmapi from Vista on). Loaded first
// by full path, they are found already loaded when asked for by name. Those
// that import nothing but the kernel come first: uxtheme and dwmapi bring in
// USER32, which may itself ask for version.dll.
void PreloadDialogLibraries()
{
    static const wchar_t* const names[] = {L"version.dll", L"msimg32.dll", L"uxtheme.dll", L"dwmapi.dll"};
    for (const wchar_t* name : names)
        Libraries.LoadSystemLibrary(name);
}
