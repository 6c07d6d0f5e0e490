#include "text/system_case.h"

#include <windows.h>

typedef WCHAR(WINAPI* UpcaseCall)(WCHAR);
static UpcaseCall SystemUpcase;

static wchar_t SystemUpcaseFold(wchar_t c)
{
    return SystemUpcase(c);
}

// Every NT system's ntdll has the call; CharUpperW only stands in should it not.
static wchar_t CharUpperFold(wchar_t c)
{
    return static_cast<wchar_t>(
        reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)))));
}

CharacterFold SystemCaseFold()
{
    if (!SystemUpcase)
        SystemUpcase = reinterpret_cast<UpcaseCall>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar")));
    return SystemUpcase ? SystemUpcaseFold : CharUpperFold;
}
