// halvane.exe's resources as they are stored in the file, read from outside:
// the translation checker holds them to their rules, and the language tests
// take from them the texts each dialog should show, so neither depends on the
// wording. Nothing here goes through the thread's language.
#ifndef HALVANE_STRING_TABLES_H
#define HALVANE_STRING_TABLES_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace string_tables {

// halvane.exe as an image of resources only: nothing of it runs in this process.
// Null when it cannot be loaded.
HMODULE HalvaneImage();

struct Bytes {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

// The resource stored under this language; null when there is none. (The lookup
// may fall back to a neutral language; the inventory test rules such entries out.)
Bytes Raw(LPCWSTR type, LPCWSTR name, LANGID language);

// Ids 144 to 175 of one language, as stored: 16 length-prefixed strings per bundle.
struct StringTable {
    std::map<UINT, std::wstring> texts;
    std::vector<std::string> faults;  // a bundle that is missing or does not parse

    // The text of an id; empty when the table does not hold it.
    const std::wstring& operator[](UINT id) const;
};

// Read once per language and kept for the rest of the test program.
const StringTable& StringsOf(LANGID language);

// UTF-8, for failure messages and test names.
std::string Narrow(const std::wstring& text);

}  // namespace string_tables

#endif
