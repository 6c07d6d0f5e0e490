// The translation checker: reads halvane.exe's resources byte for byte, language by
// language (never through the thread's language), and holds them to the rules every
// translation and template must keep. Fit in pixels is the gallery's (scripts/gallery).
#include "driver.h"
#include "string_tables.h"
#include "version_record.h"
#include "app/language_table.h"
#include "ui/display_text.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using string_tables::Bytes;
using string_tables::Narrow;
using string_tables::Raw;
using string_tables::StringsOf;

struct Language {
    const char* code;
    LANGID id;
    bool keepsProgramName;  // "Halvane" stays untranslated in 157, 158 and 162
};

// Apart from the program's own table, so that a language dropped from or misnumbered in it
// shows. Portuguese is Portugal's (2070), not Brazil's; Spanish is the traditional sort (1034).
const Language kLanguages[] = {
    {"en", 1033, true},      {"cs", 1029, false},    {"da", 1030, false},     {"de", 1031, false},
    {"es", 1034, false},     {"es-mx", 2058, false}, {"fi", 1035, true},      {"fr", 1036, false},
    {"fr-ca", 3084, false},  {"hu", 1038, true},     {"it", 1040, true},      {"ja", 1041, false},
    {"ko", 1042, true},      {"nl", 1043, true},     {"no", 1044, false},     {"pl", 1045, false},
    {"pt", 2070, false},     {"ru", 1049, true},     {"sv", 1053, false},     {"tr", 1055, false},
    {"zh-chs", 2052, false}, {"zh-cht", 1028, true},
};
const LANGID kEnglish = 1033;

const string_tables::StringTable& StringsOf(const std::string& code)
{
    for (const Language& language : kLanguages)
        if (code == language.code)
            return StringsOf(language.id);
    ADD_FAILURE() << "no language " << code;
    return StringsOf(kEnglish);
}

size_t Count(const std::wstring& text, const std::wstring& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

// Case ignored the way the platform's combo box search ignores it (simple upper-casing
// of every letter, not only A to Z), which is how the cell editor finds its entries.
bool BeginsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix)
{
    int length = static_cast<int>(prefix.size());
    return prefix.size() <= text.size() &&
           CompareStringOrdinal(text.c_str(), length, prefix.c_str(), length, TRUE) == CSTR_EQUAL;
}

bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& part)
{
    for (size_t at = 0; at < text.size(); ++at)
        if (BeginsWithIgnoringCase(text.substr(at), part))
            return true;
    return false;
}

TEST(Languages, TheProgramsTableHoldsTheseCodesAndIdentifiersInThisOrder)
{
    ASSERT_EQ(std::size(InterfaceLanguages), std::size(kLanguages));
    for (size_t i = 0; i < std::size(kLanguages); ++i) {
        EXPECT_EQ(Narrow(InterfaceLanguages[i].code), kLanguages[i].code) << "entry " << i;
        EXPECT_EQ(InterfaceLanguages[i].langId, kLanguages[i].id) << kLanguages[i].code;
    }
}

std::string Where(const Language& language, UINT id)  // "de 156: ", the prefix of every failure
{
    return std::string(language.code) + " " + std::to_string(id) + ": ";
}

// Every rule a translation must keep, language by language: each failure names its language and id.
TEST(StringTables, EachLanguageKeepsEveryRule)
{
    for (const Language& language : kLanguages) {
        const string_tables::StringTable& text = StringsOf(language.id);
        for (const std::string& fault : text.faults)
            ADD_FAILURE() << language.code << ": the string table does not parse: " << fault;
        for (UINT id = 144; id <= 175; ++id) {  // bundles 10 and 11: exactly the program's ids
            if (id >= IDS_FIRST && id <= IDS_LAST)
                EXPECT_FALSE(text[id].empty()) << Where(language, id) << "missing";
            else
                EXPECT_TRUE(text[id].empty()) << Where(language, id) << "an unused id holds " << Narrow(text[id]);
        }

        EXPECT_EQ(text[IDS_PROMPT_CAPTION], text[IDS_COLUMN_DECISION])
            << Where(language, IDS_COLUMN_DECISION) << "the decision column's header is the prompt's caption";
        if (language.keepsProgramName) {
            EXPECT_EQ(text[IDS_PROMPT_CAPTION], L"Halvane") << Where(language, IDS_PROMPT_CAPTION) << "stays as is";
            EXPECT_NE(text[IDS_PREFERENCES_CAPTION].find(L"Halvane"), std::wstring::npos)
                << Where(language, IDS_PREFERENCES_CAPTION) << Narrow(text[IDS_PREFERENCES_CAPTION]);
        } else {
            for (UINT id : {IDS_PROMPT_CAPTION, IDS_PREFERENCES_CAPTION, IDS_COLUMN_DECISION})
                EXPECT_FALSE(ContainsIgnoringCase(text[id], L"Halvane"))
                    << Where(language, id) << "the name is translated in this language: " << Narrow(text[id]);
        }

        // The prompt's message takes the site first and the title second.
        const std::wstring& format = text[IDS_PROMPT_MESSAGE];
        std::string where = Where(language, IDS_PROMPT_MESSAGE) + Narrow(format);
        EXPECT_EQ(Count(format, L"%s"), 2u) << where << ": needs exactly two %s";
        EXPECT_EQ(Count(format, L"%"), Count(format, L"%s")) << where << ": a % that is not part of %s";
        wchar_t message[1024];
        FormatPromptMessage(format.c_str(), L"SITE", L"TITLE", message, 1024);
        const std::wstring formatted = message;
        EXPECT_EQ(Count(formatted, L"SITE"), 1u) << where;
        EXPECT_EQ(Count(formatted, L"TITLE"), 1u) << where;
        EXPECT_LT(formatted.find(L"SITE"), formatted.find(L"TITLE")) << where << ": the site comes first";

        // Allow and Deny cannot be taken for each other when typed into the cell editor.
        const std::wstring &allow = text[IDS_ALLOW], &deny = text[IDS_DENY];
        EXPECT_FALSE(BeginsWithIgnoringCase(allow, deny) || BeginsWithIgnoringCase(deny, allow))
            << Where(language, IDS_ALLOW) << "\"" << Narrow(allow) << "\" and 164 \"" << Narrow(deny)
            << "\": one begins the other";

        for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
            where = Where(language, id);
            // The program loads every text into a buffer of 255 characters and its end.
            EXPECT_LE(text[id].size(), 254u) << where << "longer than a load takes: " << Narrow(text[id]);
            for (size_t i = 0; i < text[id].size(); ++i) {
                unsigned c = text[id][i];
                EXPECT_NE(c, unsigned(L'&')) << where << "mnemonic marker at " << i << " in " << Narrow(text[id]);
                EXPECT_FALSE(c < 0x20 || (c >= 0x7F && c <= 0x9F))
                    << where << "control character U+" << std::hex << c << std::dec << " at " << i;
                EXPECT_FALSE(c >= 0xD800 && c <= 0xDFFF)
                    << where << "surrogate U+" << std::hex << c << std::dec << " at " << i << " (outside the BMP)";
                EXPECT_NE(c, 0x2026u) << where << "ellipsis character at " << i << "; write three full stops";
            }
        }
        const std::wstring& button = text[IDS_PREFERENCES_BUTTON];
        EXPECT_TRUE(button.size() > 3 && button.compare(button.size() - 3, 3, L"...") == 0 &&
                    button[button.size() - 4] != L'.')
            << Where(language, IDS_PREFERENCES_BUTTON) << "must end with \"...\": " << Narrow(button);
    }
}

TEST(StringTexts, TextsGivenWordForWordAreExactlyAsWritten)
{
    const std::tuple<const char*, UINT, const wchar_t*> texts[] = {
        {"en", IDS_OK, L"OK"}, {"en", IDS_CANCEL, L"Cancel"}, {"en", IDS_ALWAYS, L"Always"},
        {"en", IDS_JUST_THIS_TIME, L"Just this time"}, {"en", IDS_NEVER, L"Never"},
        {"en", IDS_PREFERENCES_BUTTON, L"Preferences..."},
        {"en", IDS_PROMPT_MESSAGE,
         L"The site %s wants to keep the window %s as the topmost window on your desktop. "
         L"Do you want to allow this action?"},
        {"en", IDS_PROMPT_CAPTION, L"Halvane"}, {"en", IDS_PREFERENCES_CAPTION, L"Halvane Preferences"},
        {"en", IDS_ADD, L"Add"}, {"en", IDS_REMOVE, L"Remove"}, {"en", IDS_COLUMN_DOMAIN, L"Domain"},
        {"en", IDS_COLUMN_DECISION, L"Halvane"}, {"en", IDS_ALLOW, L"Allow"}, {"en", IDS_DENY, L"Deny"},
        {"fi", IDS_PREFERENCES_CAPTION, L"Halvane-määritykset"},
        {"hu", IDS_PREFERENCES_CAPTION, L"Halvane beállításai"},
        {"it", IDS_PREFERENCES_CAPTION, L"Preferenze di Halvane"},
        {"nl", IDS_PREFERENCES_CAPTION, L"Voorkeuren voor Halvane"},
        {"ru", IDS_PREFERENCES_CAPTION, L"Настройки Halvane"}, {"zh-cht", IDS_PREFERENCES_CAPTION, L"Halvane 偏好設定"},
        {"ko", IDS_PREFERENCES_CAPTION, L"Halvane 기본 설정"},
        {"tr", IDS_PROMPT_MESSAGE,
         L"%s sitesi %s penceresini masaüstünüzün en üstteki penceresi olarak tutmak istiyor. "
         L"Bu eyleme izin vermek istiyor musunuz?"},
        {"ja", IDS_PROMPT_MESSAGE,
         L"サイト%sが、ウィンドウ%sをデスクトップの最前面に表示し続けることを求めています。この操作を許可しますか。"},
        {"hu", IDS_PROMPT_MESSAGE,
         L"A(z) %s a(z) %s ablakot szeretné az asztal legfelső ablakaként használni. Engedélyezi ezt a műveletet?"},
    };
    for (const auto& [code, id, want] : texts)
        EXPECT_EQ(StringsOf(code)[id], want) << code << " " << id << ": " << Narrow(StringsOf(code)[id]);
}

// French sets "?", "!", ":" and ";" off with a no-break space, so that word
// wrap can never leave one alone at the start of a line. (Canadian French
// leaves no space before "?", "!" and ";", and is not held to this.)
TEST(StringTexts, FrenchPunctuationFollowsANoBreakSpace)
{
    for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
        const std::wstring& text = StringsOf("fr")[id];
        for (size_t at = text.find_first_of(L"?!:;"); at != std::wstring::npos; at = text.find_first_of(L"?!:;", at + 1))
            EXPECT_TRUE(at > 0 && (text[at - 1] == 0x00A0 || text[at - 1] == 0x202F))
                << "fr " << id << ": no no-break space before the mark at " << at << " in " << Narrow(text);
    }
}

// Chinese and Japanese run their words together: a space between two of their
// characters reads as a typing slip. Japanese joins the placeholders too.
TEST(StringTexts, ChineseAndJapaneseHoldNoSpaceBetweenTheirOwnCharacters)
{
    auto cjk = [](wchar_t c) {
        return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xFF00 && c <= 0xFFEF);
    };
    for (const char* code : {"ja", "zh-chs", "zh-cht"}) {
        for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
            const std::wstring& text = StringsOf(code)[id];
            for (size_t at = text.find(L' '); at != std::wstring::npos; at = text.find(L' ', at + 1))
                EXPECT_FALSE(at > 0 && at + 1 < text.size() && cjk(text[at - 1]) && cjk(text[at + 1]))
                    << code << " " << id << ": a space at " << at << " in " << Narrow(text);
        }
    }
    const std::wstring& message = StringsOf("ja")[IDS_PROMPT_MESSAGE];
    EXPECT_TRUE(message.find(L" %s") == std::wstring::npos && message.find(L"%s ") == std::wstring::npos)
        << Narrow(message);
}

// Each resource as "type name language", such as "#6 #10 1031" ("#n": an integer id).
BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR entries)
{
    auto text = [](LPCWSTR id) {
        return IS_INTRESOURCE(id) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id)) : std::wstring(id);
    };
    reinterpret_cast<std::set<std::wstring>*>(entries)->insert(text(type) + L" " + text(name) + L" " +
                                                               std::to_wstring(language));
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR entries)
{
    EnumResourceLanguagesW(module, type, name, CollectLanguage, entries);
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR entries)
{
    EnumResourceNamesW(module, type, CollectName, entries);
    return TRUE;
}

TEST(ResourceInventory, HoldsExactlyTheTabledResources)
{
    ASSERT_NE(string_tables::HalvaneImage(), nullptr) << "cannot load " << Narrow(driver::ProgramPath()) << " as data";
    std::set<std::wstring> expected = {L"#5 #102 1033", L"#5 #103 1033", L"#14 #104 1033", L"#3 #1 1033",
                                       L"#3 #2 1033",   L"#24 #1 1033",  L"#16 #1 1033"};
    for (const Language& language : kLanguages) {
        expected.insert(L"#6 #10 " + std::to_wstring(language.id));
        expected.insert(L"#6 #11 " + std::to_wstring(language.id));
    }
    std::set<std::wstring> stored;
    EnumResourceTypesW(string_tables::HalvaneImage(), CollectType, reinterpret_cast<LONG_PTR>(&stored));
    EXPECT_EQ(stored, expected) << "each resource's type, name and language";
}

using Rect = std::array<short, 4>;

// Reads little-endian fields in order; past the end it reads zeros and says so.
struct Reader {
    Bytes bytes;
    DWORD at = 0;
    bool overrun = false;

    DWORD Take(DWORD count)
    {
        DWORD value = 0;
        if (overrun || count > bytes.size - at)
            overrun = true;
        for (DWORD i = 0; i < count && !overrun; ++i)
            value |= DWORD(bytes.data[at++]) << (8 * i);
        return value;
    }
    WORD Word() { return static_cast<WORD>(Take(2)); }
    std::wstring NulTerminated()
    {
        std::wstring text;
        for (wchar_t c; (c = static_cast<wchar_t>(Word())) != 0;)
            text += c;
        return text;
    }
    // A name-or-ordinal field: "" for none (0x0000), "#n" for 0xFFFF and an ordinal, or the name.
    std::wstring NameOrOrdinal()
    {
        WORD first = Word();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        return first ? static_cast<wchar_t>(first) + NulTerminated() : std::wstring();
    }
    ::Rect Rect()
    {
        ::Rect rect{};
        for (short& field : rect)
            field = static_cast<short>(Word());
        return rect;
    }
};

struct Control {
    DWORD id;
    const wchar_t* windowClass;
    DWORD style;
    Rect rect;
};

const wchar_t kButton[] = L"#128", kStatic[] = L"#130";

// The extended template: a header, then each control on a DWORD boundary. Texts are
// empty (the string table's); no extended style (it raises itself when it opens).
void ExpectTemplate(WORD templateId, Rect rect, const std::vector<Control>& controls)
{
    SCOPED_TRACE("template " + std::to_string(templateId));
    Reader r{Raw(RT_DIALOG, MAKEINTRESOURCEW(templateId), kEnglish)};
    ASSERT_NE(r.bytes.data, nullptr) << "missing";
    // Braced, so read in order: version, signature, help id, extended style, style,
    // control count, rect, menu, class, caption, font size, weight, italic and charset, typeface.
    using Header = std::tuple<WORD, WORD, DWORD, DWORD, DWORD, size_t, Rect, std::wstring, std::wstring, std::wstring,
                              WORD, WORD, WORD, std::wstring>;
    EXPECT_EQ((Header{r.Word(), r.Word(), r.Take(4), r.Take(4), r.Take(4), r.Word(), r.Rect(), r.NameOrOrdinal(),
                      r.NameOrOrdinal(), r.NulTerminated(), r.Word(), r.Word(), r.Word(), r.NulTerminated()}),
              (Header{1, 0xFFFF, 0, 0, 0x80C800C0, controls.size(), rect, L"", L"", L"", 10, 400, 0,
                      L"Microsoft Sans Serif"}));
    // Help id, extended style, style, rect, id (in tab order), class, text, extra bytes.
    using Item = std::tuple<DWORD, DWORD, DWORD, Rect, DWORD, std::wstring, std::wstring, WORD>;
    for (const Control& control : controls) {
        r.at = std::min<DWORD>((r.at + 3) / 4 * 4, r.bytes.size);
        EXPECT_EQ((Item{r.Take(4), r.Take(4), r.Take(4), r.Rect(), r.Take(4), r.NameOrOrdinal(), r.NameOrOrdinal(),
                        r.Word()}),
                  (Item{0, 0, control.style, control.rect, control.id, control.windowClass, L"", 0}));
    }
    EXPECT_FALSE(r.overrun) << "the template ends early";
    EXPECT_LT(r.bytes.size - r.at, 4u) << "bytes after the last control";
}

TEST(DialogTemplates, ThePromptAndPreferencesAreAsLaidOut)
{
    ExpectTemplate(IDD_CONSENT_PROMPT, {0, 0, 265, 102},
                   {
                       {IDOK, kButton, 0x50010001, {149, 80, 50, 14}},
                       {IDCANCEL, kButton, 0x50010000, {208, 80, 50, 14}},
                       {IDC_PREFERENCES, kButton, 0x50010000, {7, 80, 73, 14}},
                       {IDC_MESSAGE, kStatic, 0x50020000, {7, 7, 251, 28}},
                       // The only tab stop of the radio group: without it Tab never
                       // reaches a choice, and a keyboard user can never allow anything.
                       {IDC_ALWAYS, kButton, 0x50030009, {7, 40, 50, 10}},
                       {IDC_JUST_THIS_TIME, kButton, 0x50000009, {7, 53, 69, 10}},
                       {IDC_NEVER, kButton, 0x50000009, {7, 66, 47, 10}},
                   });
    ExpectTemplate(IDD_PREFERENCES, {0, 0, 234, 177},
                   {
                       {IDOK, kButton, 0x50010001, {119, 155, 50, 14}},
                       {IDCANCEL, kButton, 0x50010000, {178, 155, 50, 14}},
                       {IDC_ADD, kButton, 0x50010000, {6, 138, 50, 14}},
                       {IDC_REMOVE, kButton, 0x50010000, {60, 138, 50, 14}},
                       {IDC_SITE_LIST, L"SysListView32", 0x50810A15, {6, 5, 221, 129}},
                   });
}

TEST(IconGroup, HoldsA16AndA20PixelEightBitImage)
{
    Reader group{Raw(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP), kEnglish)};
    ASSERT_NE(group.bytes.data, nullptr);
    using Header = std::tuple<WORD, WORD, WORD>;  // reserved, 1 for an icon (not a cursor), image count
    EXPECT_EQ((Header{group.Word(), group.Word(), group.Word()}), (Header{0, 1, 2}));
    ASSERT_EQ(group.bytes.size, 6u + 2 * 14) << "two entries of 14 bytes";
    for (DWORD side : {16, 20}) {
        SCOPED_TRACE(std::to_string(side) + " pixels");
        // The header, 256 colours, the pixels and the mask, each row padded to 4 bytes.
        DWORD bytes = 40 + 256 * 4 + side * ((side + 3) / 4 * 4) + side * (((side + 7) / 8 + 3) / 4 * 4);
        DWORD id = side == 16 ? 1 : 2;
        // Width, height, colours (256 are written as 0) and a reserved byte, planes, bits, bytes, image id.
        using Entry = std::tuple<DWORD, DWORD, DWORD, WORD, WORD, DWORD, DWORD>;
        EXPECT_EQ((Entry{group.Take(1), group.Take(1), group.Take(2), group.Word(), group.Word(), group.Take(4),
                         group.Word()}),
                  (Entry{side, side, 0, 1, 8, bytes, id}));
        Reader image{Raw(RT_ICON, MAKEINTRESOURCEW(id), kEnglish)};
        EXPECT_EQ(image.bytes.size, bytes) << "image " << id;
        // The bitmap header: its size, width, height (pixels and mask), planes, bits, compression.
        using Bitmap = std::tuple<DWORD, DWORD, DWORD, WORD, WORD, DWORD>;
        EXPECT_EQ((Bitmap{image.Take(4), image.Take(4), image.Take(4), image.Word(), image.Word(), image.Take(4)}),
                  (Bitmap{40, side, 2 * side, 1, 8, BI_RGB}));
    }
}

TEST(Manifest, AsksForTheInvokerLevelAndNothingElse)
{
    Bytes raw = Raw(RT_MANIFEST, MAKEINTRESOURCEW(1), kEnglish);
    ASSERT_NE(raw.data, nullptr);
    std::string text(reinterpret_cast<const char*>(raw.data), raw.size);
    EXPECT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0), 0)
        << "not UTF-8";
    // Version 6 of the common controls would change how the list and its editor behave.
    const std::pair<const char*, bool> parts[] = {{"manifestVersion=\"1.0\"", true},
                 {"requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"", true},
                 {"Microsoft.Windows.Common-Controls", false},
                 {"compatibility", false},
                 {"dpiAware", false}};  // dpiAwareness too
    for (const auto& [part, wanted] : parts)
        EXPECT_EQ(text.find(part) != std::string::npos, wanted) << part << " in " << text;
}

// The version record as Explorer and installers read it, through the version API,
// against the project's version that CMake hands to this test.
TEST(VersionRecord, ReadsAsTheProjectVersionWithTheMakersNames)
{
    const version_record::Record record = version_record::Read(driver::ProgramPath());
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(sscanf(HALVANE_PROJECT_VERSION, "%u.%u.%u", &major, &minor, &patch), 3) << HALVANE_PROJECT_VERSION;
    const VS_FIXEDFILEINFO* f = record.Fixed();
    ASSERT_NE(f, nullptr) << "no version information, or its fixed part is amiss";
    // The signature, file and product versions, the type, and no debug or pre-release flag.
    using Fixed = std::tuple<DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD>;
    DWORD versionMS = MAKELONG(minor, major), versionLS = MAKELONG(0, patch);
    EXPECT_EQ((Fixed{f->dwSignature, f->dwFileVersionMS, f->dwFileVersionLS, f->dwProductVersionMS,
                     f->dwProductVersionLS, f->dwFileType, f->dwFileFlags & f->dwFileFlagsMask}),
              (Fixed{0xFEEF04BD, versionMS, versionLS, versionMS, versionLS, VFT_APP, 0}));
    EXPECT_EQ(record.Translation(), DWORD(MAKELONG(0x0409, 1200)));
    const std::wstring version(std::begin(HALVANE_PROJECT_VERSION), std::end(HALVANE_PROJECT_VERSION) - 1);
    const std::pair<const wchar_t*, std::wstring> expected[] = {
        {L"CompanyName", L"Marrowin"},     {L"ProductName", L"Halvane"},   {L"FileDescription", L"Halvane"},
        {L"FileVersion", version + L".0"}, {L"ProductVersion", version},   {L"OriginalFilename", L"halvane.exe"},
        {L"InternalName", L"halvane"},     {L"LegalCopyright", L"Copyright (C) 2026 Marrowin"},
    };
    for (const auto& [name, want] : expected)
        EXPECT_EQ(record.Text(name), want) << Narrow(name);
}

}  // namespace
