#include "string_tables.h"

#include "driver.h"

namespace string_tables {

HMODULE HalvaneImage()
{
    static HMODULE module = LoadLibraryExW(driver::ProgramPath().c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    return module;
}

Bytes Raw(LPCWSTR type, LPCWSTR name, LANGID language)
{
    if (!HalvaneImage())
        return {};
    HRSRC found = FindResourceExW(HalvaneImage(), type, name, language);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(HalvaneImage(), found);
    return {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(HalvaneImage(), found)};
}

const std::wstring& StringTable::operator[](UINT id) const
{
    static const std::wstring none;
    auto found = texts.find(id);
    return found == texts.end() ? none : found->second;
}

namespace {

// One bundle: 16 strings, each a WORD count of UTF-16 units followed by them.
// A bundle that ends early yields what it holds; the rest read as empty, and
// the fault is recorded so a broken table fails once, not once per id.
void ReadBundle(UINT bundle, Bytes raw, StringTable* table)
{
    const std::string where = "bundle " + std::to_string(bundle);
    if (!raw.data) {
        table->faults.push_back(where + " is missing");
        return;
    }
    DWORD offset = 0;
    bool overrun = false;
    auto word = [&]() -> WORD {
        if (overrun || raw.size - offset < 2) {
            overrun = true;
            return 0;
        }
        WORD value = WORD(raw.data[offset] | raw.data[offset + 1] << 8);
        offset += 2;
        return value;
    };
    const UINT firstId = (bundle - 1) * 16;
    for (UINT i = 0; i < 16; ++i) {
        WORD length = word();
        std::wstring text;
        for (WORD c = 0; c < length && !overrun; ++c)
            text += static_cast<wchar_t>(word());
        table->texts[firstId + i] = text;
    }
    if (overrun)
        table->faults.push_back(where + " ends inside its 16 strings");
    else if (raw.size != offset)
        table->faults.push_back(where + " has " + std::to_string(raw.size - offset) + " bytes after its 16 strings");
}

}  // namespace

const StringTable& StringsOf(LANGID language)
{
    static std::map<LANGID, StringTable> cache;
    auto found = cache.find(language);
    if (found == cache.end()) {
        StringTable table;
        for (UINT bundle : {10u, 11u})
            ReadBundle(bundle, Raw(RT_STRING, MAKEINTRESOURCEW(bundle), language), &table);
        found = cache.emplace(language, table).first;
    }
    return found->second;
}

std::string Narrow(const std::wstring& text)
{
    std::string out(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)),
                    '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

}  // namespace string_tables
