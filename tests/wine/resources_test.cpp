// The translation checker: reads the resources stored in the built halvane.exe,
// language by language, byte for byte as they are stored (never through the
// thread's language), and holds them to the rules every translation and every
// template must keep. A new or edited translation that breaks a rule fails
// here with its language code and string id.
#include "driver.h"
#include "string_tables.h"
#include "app/language_table.h"
#include "ui/display_text.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

// ---- the languages --------------------------------------------------------------

struct Language {
    const char* code;
    LANGID id;
    bool keepsProgramName;  // "Halvane" stays untranslated in 157, 158 and 162
};

// Written out here, apart from the program's own table (which the other tests
// iterate), so that a language dropped from or misnumbered in that table shows.
// Portuguese is Portugal's (2070), not Brazil's; Spanish is the traditional sort (1034).
const Language kLanguages[] = {
    {"en", 1033, true},      {"cs", 1029, false},    {"da", 1030, false},     {"de", 1031, false},
    {"es", 1034, false},     {"es-mx", 2058, false}, {"fi", 1035, true},      {"fr", 1036, false},
    {"fr-ca", 3084, false},  {"hu", 1038, true},     {"it", 1040, true},      {"ja", 1041, false},
    {"ko", 1042, true},      {"nl", 1043, true},     {"no", 1044, false},     {"pl", 1045, false},
    {"pt", 2070, false},     {"ru", 1049, true},     {"sv", 1053, false},     {"tr", 1055, false},
    {"zh-chs", 2052, false}, {"zh-cht", 1028, true},
};

// Test names and messages show the code, not the bytes of the row.
void PrintTo(const Language& language, std::ostream* out)
{
    *out << language.code;
}

const Language& LanguageByCode(const std::string& code)
{
    for (const Language& language : kLanguages) {
        if (code == language.code)
            return language;
    }
    ADD_FAILURE() << "no language " << code;
    return kLanguages[0];
}

const LANGID kEnglish = 1033;

// The two string bundles: bundle n holds ids 16(n-1) to 16n-1.
const UINT kFirstBundleId = 144;  // bundle 10
const UINT kLastBundleId = 175;   // end of bundle 11
const UINT kProgramNameIds[] = {IDS_PROMPT_CAPTION, IDS_PREFERENCES_CAPTION, IDS_COLUMN_DECISION};

// ---- raw resources ----------------------------------------------------------------

using string_tables::Bytes;
using string_tables::Narrow;
using string_tables::Raw;
using string_tables::StringTable;
using string_tables::StringsOf;

// A resource type or name as the enumeration reports it: "#n" for an integer id.
std::wstring IdText(LPCWSTR id)
{
    if (IS_INTRESOURCE(id))
        return L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id));
    return id;
}

using ResourceEntry = std::tuple<std::wstring, std::wstring, LANGID>;  // type, name, language

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param)
{
    reinterpret_cast<std::set<ResourceEntry>*>(param)->insert({IdText(type), IdText(name), language});
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    EnumResourceLanguagesW(module, type, name, CollectLanguage, param);
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR param)
{
    EnumResourceNamesW(module, type, CollectName, param);
    return TRUE;
}

// "type #6, name #10, language 1031", for the inventory's messages.
std::string Describe(const ResourceEntry& entry)
{
    return "type " + Narrow(std::get<0>(entry)) + ", name " + Narrow(std::get<1>(entry)) + ", language " +
           std::to_string(std::get<2>(entry));
}

std::set<ResourceEntry> EnumerateResources()
{
    std::set<ResourceEntry> entries;
    EnumResourceTypesW(string_tables::HalvaneImage(), CollectType, reinterpret_cast<LONG_PTR>(&entries));
    return entries;
}

std::set<LANGID> LanguagesOf(LPCWSTR type, LPCWSTR name)
{
    std::set<LANGID> languages;
    for (const ResourceEntry& entry : EnumerateResources()) {
        if (std::get<0>(entry) == IdText(type) && std::get<1>(entry) == IdText(name))
            languages.insert(std::get<2>(entry));
    }
    return languages;
}

// Reads little-endian fields in order and remembers whether it ever ran past the end.
class Reader {
public:
    explicit Reader(Bytes bytes) : bytes_(bytes) {}

    WORD Word() { return static_cast<WORD>(Take(2)); }
    short Short() { return static_cast<short>(Take(2)); }
    BYTE Byte() { return static_cast<BYTE>(Take(1)); }
    DWORD Dword() { return Take(4); }
    void Skip(DWORD count)
    {
        if (count > bytes_.size - offset_)
            overrun_ = true;
        else
            offset_ += count;
    }
    void AlignToDword() { Skip(std::min<DWORD>((4 - offset_ % 4) % 4, bytes_.size - offset_)); }
    std::wstring Chars(DWORD count)
    {
        std::wstring text;
        for (DWORD i = 0; i < count && !overrun_; ++i)
            text += static_cast<wchar_t>(Word());
        return text;
    }
    std::wstring NulTerminated()
    {
        std::wstring text;
        for (wchar_t c; !overrun_ && (c = static_cast<wchar_t>(Word())) != 0;)
            text += c;
        return text;
    }
    DWORD offset() const { return offset_; }
    DWORD left() const { return bytes_.size - offset_; }
    bool overrun() const { return overrun_; }

private:
    DWORD Take(DWORD count)
    {
        if (overrun_ || count > bytes_.size - offset_) {
            overrun_ = true;
            return 0;
        }
        DWORD value = 0;
        for (DWORD i = 0; i < count; ++i)
            value |= DWORD(bytes_.data[offset_ + i]) << (8 * i);
        offset_ += count;
        return value;
    }

    Bytes bytes_;
    DWORD offset_ = 0;
    bool overrun_ = false;
};

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
    if (prefix.size() > text.size())
        return false;
    return CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& part)
{
    for (size_t at = 0; at + part.size() <= text.size(); ++at) {
        if (BeginsWithIgnoringCase(text.substr(at), part))
            return true;
    }
    return false;
}

std::string LanguageName(const testing::TestParamInfo<Language>& info)
{
    std::string name = info.param.code;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

TEST(Languages, TheProgramsTableHoldsTheseCodesAndIdentifiersInThisOrder)
{
    const size_t count = sizeof(InterfaceLanguages) / sizeof(InterfaceLanguages[0]);
    ASSERT_EQ(count, std::size(kLanguages));
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(Narrow(InterfaceLanguages[i].code), kLanguages[i].code) << "entry " << i;
        EXPECT_EQ(InterfaceLanguages[i].langId, kLanguages[i].id) << kLanguages[i].code;
    }
}

// ---- every language's string table -------------------------------------------------------

class StringTableTest : public testing::TestWithParam<Language> {
protected:
    // A table that does not parse fails each test once, not once per id.
    void SetUp() override
    {
        std::string faults;
        for (const std::string& fault : strings().faults)
            faults += "; " + fault;
        ASSERT_TRUE(faults.empty()) << language().code << ": the string table does not parse" << faults;
    }

    const Language& language() const { return GetParam(); }
    const StringTable& strings() const { return StringsOf(GetParam().id); }
    // "de 156: " – the prefix of every failure message.
    std::string Where(UINT id) const { return std::string(language().code) + " " + std::to_string(id) + ": "; }
};

TEST_P(StringTableTest, HoldsExactlyTheFifteenIdsInBothBundles)
{
    for (UINT bundle : {10u, 11u}) {
        EXPECT_EQ(LanguagesOf(RT_STRING, MAKEINTRESOURCEW(bundle)).count(language().id), 1u)
            << language().code << ": no bundle " << bundle << " stored under LANGID " << language().id;
    }
    for (UINT id = kFirstBundleId; id <= kLastBundleId; ++id) {
        if (id >= IDS_FIRST && id <= IDS_LAST)
            EXPECT_FALSE(strings()[id].empty()) << Where(id) << "missing";
        else
            EXPECT_TRUE(strings()[id].empty()) << Where(id) << "an unused id holds \"" << Narrow(strings()[id]) << "\"";
    }
}

TEST_P(StringTableTest, PromptCaptionAndDecisionColumnHeaderAreOneText)
{
    EXPECT_EQ(strings()[IDS_PROMPT_CAPTION], strings()[IDS_COLUMN_DECISION])
        << Where(IDS_COLUMN_DECISION) << "\"" << Narrow(strings()[IDS_COLUMN_DECISION]) << "\" differs from 157 \""
        << Narrow(strings()[IDS_PROMPT_CAPTION]) << "\"";
}

TEST_P(StringTableTest, PromptMessageTakesTheSiteFirstAndTheTitleSecond)
{
    const std::wstring& format = strings()[IDS_PROMPT_MESSAGE];
    EXPECT_EQ(Count(format, L"%s"), 2u) << Where(IDS_PROMPT_MESSAGE) << "needs exactly two %s: " << Narrow(format);
    EXPECT_EQ(Count(format, L"%"), Count(format, L"%s"))
        << Where(IDS_PROMPT_MESSAGE) << "a % that is not part of %s: " << Narrow(format);

    wchar_t message[1024];
    FormatPromptMessage(format.c_str(), L"SITE", L"TITLE", message, 1024);
    std::wstring formatted = message;
    EXPECT_EQ(Count(formatted, L"SITE"), 1u) << Where(IDS_PROMPT_MESSAGE) << Narrow(formatted);
    EXPECT_EQ(Count(formatted, L"TITLE"), 1u) << Where(IDS_PROMPT_MESSAGE) << Narrow(formatted);
    EXPECT_LT(formatted.find(L"SITE"), formatted.find(L"TITLE"))
        << Where(IDS_PROMPT_MESSAGE) << "the site must come first: " << Narrow(formatted);
}

TEST_P(StringTableTest, AllowAndDenyCannotBeTakenForEachOther)
{
    const std::wstring& allow = strings()[IDS_ALLOW];
    const std::wstring& deny = strings()[IDS_DENY];
    ASSERT_FALSE(allow.empty() || deny.empty()) << Where(IDS_ALLOW) << "missing";
    EXPECT_FALSE(BeginsWithIgnoringCase(allow, deny))
        << Where(IDS_ALLOW) << "\"" << Narrow(allow) << "\" begins with 164 \"" << Narrow(deny) << "\"";
    EXPECT_FALSE(BeginsWithIgnoringCase(deny, allow))
        << Where(IDS_DENY) << "\"" << Narrow(deny) << "\" begins with 163 \"" << Narrow(allow) << "\"";
}

TEST_P(StringTableTest, TextsHoldNoMnemonicControlOrAstralCharacter)
{
    for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
        const std::wstring& text = strings()[id];
        for (size_t i = 0; i < text.size(); ++i) {
            unsigned c = text[i];
            EXPECT_NE(c, unsigned(L'&')) << Where(id) << "mnemonic marker at " << i << " in " << Narrow(text);
            EXPECT_FALSE(c < 0x20 || (c >= 0x7F && c <= 0x9F))
                << Where(id) << "control character U+" << std::hex << c << std::dec << " at " << i;
            EXPECT_FALSE(c >= 0xD800 && c <= 0xDFFF)
                << Where(id) << "surrogate U+" << std::hex << c << std::dec << " at " << i << " (outside the BMP)";
            EXPECT_NE(c, 0x2026u) << Where(id) << "ellipsis character at " << i << "; write three full stops";
        }
    }
    const std::wstring& button = strings()[IDS_PREFERENCES_BUTTON];
    EXPECT_TRUE(button.size() > 3 && button.compare(button.size() - 3, 3, L"...") == 0 &&
                button[button.size() - 4] != L'.')
        << Where(IDS_PREFERENCES_BUTTON) << "must end with \"...\": " << Narrow(button);
}

TEST_P(StringTableTest, TextsFitTheirControls)
{
    for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
        size_t length = strings()[id].size();
        EXPECT_LE(length, 254u) << Where(id) << "longer than the 254 characters a load accepts";
        EXPECT_LE(length, id == IDS_PROMPT_MESSAGE ? 128u : 39u)
            << Where(id) << length << " characters: " << Narrow(strings()[id]);
    }
}

TEST_P(StringTableTest, ProgramNameIsKeptOrTranslatedAsTabled)
{
    if (language().keepsProgramName) {
        EXPECT_EQ(strings()[IDS_PROMPT_CAPTION], L"Halvane") << Where(IDS_PROMPT_CAPTION) << "the name stays as is";
        EXPECT_NE(strings()[IDS_PREFERENCES_CAPTION].find(L"Halvane"), std::wstring::npos)
            << Where(IDS_PREFERENCES_CAPTION) << Narrow(strings()[IDS_PREFERENCES_CAPTION]);
    } else {
        for (UINT id : kProgramNameIds) {
            EXPECT_FALSE(ContainsIgnoringCase(strings()[id], L"Halvane"))
                << Where(id) << "the name is translated in this language: " << Narrow(strings()[id]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, StringTableTest, testing::ValuesIn(kLanguages), LanguageName);

// ---- texts given word for word --------------------------------------------------------------

TEST(StringTexts, EnglishIsExactlyAsWritten)
{
    const std::map<UINT, std::wstring> english = {
        {IDS_OK, L"OK"},
        {IDS_CANCEL, L"Cancel"},
        {IDS_ALWAYS, L"Always"},
        {IDS_JUST_THIS_TIME, L"Just this time"},
        {IDS_NEVER, L"Never"},
        {IDS_PREFERENCES_BUTTON, L"Preferences..."},
        {IDS_PROMPT_MESSAGE, L"The site %s wants to keep the window %s as the topmost window on your desktop. "
                             L"Do you want to allow this action?"},
        {IDS_PROMPT_CAPTION, L"Halvane"},
        {IDS_PREFERENCES_CAPTION, L"Halvane Preferences"},
        {IDS_ADD, L"Add"},
        {IDS_REMOVE, L"Remove"},
        {IDS_COLUMN_DOMAIN, L"Domain"},
        {IDS_COLUMN_DECISION, L"Halvane"},
        {IDS_ALLOW, L"Allow"},
        {IDS_DENY, L"Deny"},
    };
    for (const auto& [id, text] : english)
        EXPECT_EQ(StringsOf(kEnglish)[id], text) << "en " << id << ": " << Narrow(StringsOf(kEnglish)[id]);
}

TEST(StringTexts, QuotedTranslationsAreExactlyAsWritten)
{
    struct Quoted {
        const char* code;
        UINT id;
        const wchar_t* text;
    };
    const Quoted quoted[] = {
        {"fi", IDS_PREFERENCES_CAPTION, L"Halvane-määritykset"},
        {"hu", IDS_PREFERENCES_CAPTION, L"Halvane beállításai"},
        {"it", IDS_PREFERENCES_CAPTION, L"Preferenze di Halvane"},
        {"nl", IDS_PREFERENCES_CAPTION, L"Voorkeuren voor Halvane"},
        {"ru", IDS_PREFERENCES_CAPTION, L"Настройки Halvane"},
        {"zh-cht", IDS_PREFERENCES_CAPTION, L"Halvane 偏好設定"},
        {"ko", IDS_PREFERENCES_CAPTION, L"Halvane 기본 설정"},
        {"tr", IDS_PROMPT_MESSAGE,
         L"%s sitesi %s penceresini masaüstünüzün en üstteki penceresi olarak tutmak istiyor. "
         L"Bu eyleme izin vermek istiyor musunuz?"},
        {"ja", IDS_PROMPT_MESSAGE,
         L"サイト%sが、ウィンドウ%sをデスクトップの最前面に表示し続けることを求めています。この操作を許可しますか。"},
        {"hu", IDS_PROMPT_MESSAGE,
         L"A(z) %s a(z) %s ablakot szeretné az asztal legfelső ablakaként használni. Engedélyezi ezt a műveletet?"},
    };
    for (const Quoted& q : quoted) {
        const std::wstring& stored = StringsOf(LanguageByCode(q.code).id)[q.id];
        EXPECT_EQ(stored, q.text) << q.code << " " << q.id << ": " << Narrow(stored);
    }
}

// French sets "?", "!", ":" and ";" off with a no-break space, so that word
// wrap can never leave one alone at the start of a line. (Canadian French
// leaves no space before "?", "!" and ";", and is not held to this.)
TEST(StringTexts, FrenchPunctuationFollowsANoBreakSpace)
{
    const StringTable& french = StringsOf(LanguageByCode("fr").id);
    for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
        const std::wstring& text = french[id];
        for (size_t at = text.find_first_of(L"?!:;"); at != std::wstring::npos; at = text.find_first_of(L"?!:;", at + 1))
            EXPECT_TRUE(at > 0 && (text[at - 1] == 0x00A0 || text[at - 1] == 0x202F))
                << "fr " << id << ": no no-break space before the mark at " << at << " in " << Narrow(text);
    }
}

bool IsCjk(wchar_t c)
{
    return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xFF00 && c <= 0xFFEF);
}

// Chinese and Japanese run their words together: a space between two of their
// characters reads as a typing slip. Japanese joins the placeholders too.
TEST(StringTexts, ChineseAndJapaneseHoldNoSpaceBetweenTheirOwnCharacters)
{
    for (const char* code : {"ja", "zh-chs", "zh-cht"}) {
        const StringTable& strings = StringsOf(LanguageByCode(code).id);
        for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
            const std::wstring& text = strings[id];
            for (size_t at = text.find(L' '); at != std::wstring::npos; at = text.find(L' ', at + 1)) {
                bool between = at > 0 && at + 1 < text.size() && IsCjk(text[at - 1]) && IsCjk(text[at + 1]);
                EXPECT_FALSE(between) << code << " " << id << ": a space at " << at << " in " << Narrow(text);
            }
        }
    }
    const std::wstring& message = StringsOf(LanguageByCode("ja").id)[IDS_PROMPT_MESSAGE];
    EXPECT_EQ(message.find(L" %s"), std::wstring::npos) << Narrow(message);
    EXPECT_EQ(message.find(L"%s "), std::wstring::npos) << Narrow(message);
}

// The message's static control is sized for the longest translation, Russian.
TEST(StringTexts, LongestMessageIsTheRussianOne)
{
    size_t longest = 0;
    std::string longestCode;
    for (const Language& language : kLanguages) {
        size_t length = StringsOf(language.id)[IDS_PROMPT_MESSAGE].size();
        if (length > longest) {
            longest = length;
            longestCode = language.code;
        }
    }
    EXPECT_EQ(longest, 128u);
    EXPECT_EQ(longestCode, "ru");
    EXPECT_EQ(StringsOf(kEnglish)[IDS_PROMPT_MESSAGE].size(), 112u);
}

// ---- the inventory ----------------------------------------------------------------------

TEST(ResourceInventory, HoldsExactlyTheTabledResources)
{
    ASSERT_NE(string_tables::HalvaneImage(), nullptr) << "cannot load " << Narrow(driver::ProgramPath()) << " as data";
    std::set<ResourceEntry> expected = {
        {L"#5", L"#102", kEnglish}, {L"#5", L"#103", kEnglish},  {L"#14", L"#104", kEnglish}, {L"#3", L"#1", kEnglish},
        {L"#3", L"#2", kEnglish},   {L"#24", L"#1", kEnglish},   {L"#16", L"#1", kEnglish},
    };
    for (const Language& language : kLanguages) {
        expected.insert({L"#6", L"#10", language.id});
        expected.insert({L"#6", L"#11", language.id});
    }
    std::set<ResourceEntry> stored = EnumerateResources();
    for (const ResourceEntry& entry : stored)
        EXPECT_EQ(expected.count(entry), 1u) << "unexpected resource: " << Describe(entry);
    for (const ResourceEntry& entry : expected)
        EXPECT_EQ(stored.count(entry), 1u) << "missing resource: " << Describe(entry);
}

// ---- the dialog templates --------------------------------------------------------------------

// A name-or-ordinal field: 0x0000 (none), 0xFFFF and an ordinal, or a string.
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring name;

    bool operator==(const NameOrOrdinal& other) const
    {
        return isOrdinal == other.isOrdinal && ordinal == other.ordinal && name == other.name;
    }
};

NameOrOrdinal Ordinal(WORD value) { return {true, value, L""}; }
NameOrOrdinal Name(const wchar_t* name) { return {false, 0, name}; }

std::ostream& operator<<(std::ostream& out, const NameOrOrdinal& value)
{
    if (value.isOrdinal)
        return out << "ordinal 0x" << std::hex << value.ordinal << std::dec;
    return out << "\"" << Narrow(value.name) << "\"";
}

NameOrOrdinal ReadNameOrOrdinal(Reader& reader)
{
    NameOrOrdinal value;
    WORD first = reader.Word();
    if (first == 0xFFFF) {
        value.isOrdinal = true;
        value.ordinal = reader.Word();
    } else if (first != 0) {
        value.name = static_cast<wchar_t>(first) + reader.NulTerminated();
    }
    return value;
}

struct Rect {
    short x, y, cx, cy;
    bool operator==(const Rect& o) const { return x == o.x && y == o.y && cx == o.cx && cy == o.cy; }
};

std::ostream& operator<<(std::ostream& out, const Rect& r)
{
    return out << r.x << "," << r.y << "," << r.cx << "," << r.cy;
}

struct TemplateItem {
    DWORD helpId, exStyle, style;
    Rect rect;
    DWORD id;
    NameOrOrdinal windowClass, title;
    WORD extraCount;
};

struct DialogTemplate {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    WORD itemCount;
    Rect rect;
    NameOrOrdinal menu, windowClass;
    std::wstring title;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring typeface;
    std::vector<TemplateItem> items;
    bool overrun;
    DWORD bytesLeft;
};

// The extended template layout: a header, then each item on a DWORD boundary.
DialogTemplate ReadDialogTemplate(Bytes raw)
{
    Reader reader(raw);
    DialogTemplate t = {};
    t.version = reader.Word();
    t.signature = reader.Word();
    t.helpId = reader.Dword();
    t.exStyle = reader.Dword();
    t.style = reader.Dword();
    t.itemCount = reader.Word();
    t.rect = {reader.Short(), reader.Short(), reader.Short(), reader.Short()};
    t.menu = ReadNameOrOrdinal(reader);
    t.windowClass = ReadNameOrOrdinal(reader);
    t.title = reader.NulTerminated();
    if (t.style & DS_SETFONT) {
        t.pointSize = reader.Word();
        t.weight = reader.Word();
        t.italic = reader.Byte();
        t.charset = reader.Byte();
        t.typeface = reader.NulTerminated();
    }
    for (WORD i = 0; i < t.itemCount && !reader.overrun(); ++i) {
        reader.AlignToDword();
        TemplateItem item = {};
        item.helpId = reader.Dword();
        item.exStyle = reader.Dword();
        item.style = reader.Dword();
        item.rect = {reader.Short(), reader.Short(), reader.Short(), reader.Short()};
        item.id = reader.Dword();
        item.windowClass = ReadNameOrOrdinal(reader);
        item.title = ReadNameOrOrdinal(reader);
        item.extraCount = reader.Word();
        reader.Skip(item.extraCount);
        t.items.push_back(item);
    }
    t.overrun = reader.overrun();
    t.bytesLeft = reader.left();
    return t;
}

struct ExpectedItem {
    DWORD id;
    NameOrOrdinal windowClass;
    DWORD style;
    Rect rect;
};

const WORD kButtonAtom = 0x0080;
const WORD kStaticAtom = 0x0082;

void ExpectTemplate(WORD templateId, Rect rect, const std::vector<ExpectedItem>& expectedItems)
{
    Bytes raw = Raw(RT_DIALOG, MAKEINTRESOURCEW(templateId), kEnglish);
    ASSERT_NE(raw.data, nullptr) << "template " << templateId << " is missing";
    DialogTemplate t = ReadDialogTemplate(raw);
    SCOPED_TRACE("template " + std::to_string(templateId));
    ASSERT_FALSE(t.overrun) << "the template ends early";
    EXPECT_LT(t.bytesLeft, 4u) << "bytes after the last control";

    EXPECT_EQ(t.version, 1);
    EXPECT_EQ(t.signature, 0xFFFF);
    EXPECT_EQ(t.helpId, 0u);
    EXPECT_EQ(t.exStyle, 0u) << "no extended style: the dialog raises itself when it opens";
    EXPECT_EQ(t.style, 0x80C800C0u);
    EXPECT_EQ(t.rect, rect);
    EXPECT_EQ(t.menu, NameOrOrdinal{});
    EXPECT_EQ(t.windowClass, NameOrOrdinal{}) << "the platform's own dialog class";
    EXPECT_EQ(t.title, L"") << "captions come from the string table";
    EXPECT_EQ(t.pointSize, 10);
    EXPECT_EQ(t.weight, 400);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, 0);
    EXPECT_EQ(t.typeface, L"Microsoft Sans Serif");

    ASSERT_EQ(t.itemCount, expectedItems.size());
    ASSERT_EQ(t.items.size(), expectedItems.size());
    for (size_t i = 0; i < expectedItems.size(); ++i) {
        const TemplateItem& item = t.items[i];
        const ExpectedItem& expected = expectedItems[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + " (id " + std::to_string(expected.id) + ")");
        EXPECT_EQ(item.id, expected.id) << "tab order";
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.style, expected.style) << std::hex << "0x" << item.style;
        EXPECT_EQ(item.rect, expected.rect);
        EXPECT_EQ(item.windowClass, expected.windowClass);
        EXPECT_EQ(item.title, Name(L"")) << "texts come from the string table";
        EXPECT_EQ(item.extraCount, 0);
    }
}

TEST(DialogTemplates, ConsentPromptIsAsLaidOut)
{
    ExpectTemplate(IDD_CONSENT_PROMPT, {0, 0, 265, 102},
                   {
                       {IDOK, Ordinal(kButtonAtom), 0x50010001, {149, 80, 50, 14}},
                       {IDCANCEL, Ordinal(kButtonAtom), 0x50010000, {208, 80, 50, 14}},
                       {IDC_PREFERENCES, Ordinal(kButtonAtom), 0x50010000, {7, 80, 73, 14}},
                       {IDC_MESSAGE, Ordinal(kStaticAtom), 0x50020000, {7, 7, 251, 28}},
                       // The only tab stop of the radio group: without it Tab never
                       // reaches a choice, and a keyboard user can never allow anything.
                       {IDC_ALWAYS, Ordinal(kButtonAtom), 0x50030009, {7, 40, 50, 10}},
                       {IDC_JUST_THIS_TIME, Ordinal(kButtonAtom), 0x50000009, {7, 53, 69, 10}},
                       {IDC_NEVER, Ordinal(kButtonAtom), 0x50000009, {7, 66, 47, 10}},
                   });
}

TEST(DialogTemplates, PreferencesIsAsLaidOut)
{
    ExpectTemplate(IDD_PREFERENCES, {0, 0, 234, 177},
                   {
                       {IDOK, Ordinal(kButtonAtom), 0x50010001, {119, 155, 50, 14}},
                       {IDCANCEL, Ordinal(kButtonAtom), 0x50010000, {178, 155, 50, 14}},
                       {IDC_ADD, Ordinal(kButtonAtom), 0x50010000, {6, 138, 50, 14}},
                       {IDC_REMOVE, Ordinal(kButtonAtom), 0x50010000, {60, 138, 50, 14}},
                       {IDC_SITE_LIST, Name(L"SysListView32"), 0x50810A15, {6, 5, 221, 129}},
                   });
}

// ---- the icon ------------------------------------------------------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14, "the stored entry is 14 bytes");

// The stored size of an 8-bit icon image: header, 256 colours, pixels and mask,
// each row padded to 4 bytes.
DWORD EightBitIconBytes(DWORD side)
{
    DWORD colourRow = (side + 3) / 4 * 4;
    DWORD maskRow = ((side + 7) / 8 + 3) / 4 * 4;
    return sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD) + side * colourRow + side * maskRow;
}

TEST(IconGroup, HoldsA16AndA20PixelEightBitImage)
{
    Bytes raw = Raw(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP), kEnglish);
    ASSERT_NE(raw.data, nullptr);
    Reader reader(raw);
    EXPECT_EQ(reader.Word(), 0) << "reserved";
    EXPECT_EQ(reader.Word(), 1) << "an icon, not a cursor";
    WORD count = reader.Word();
    ASSERT_EQ(count, 2);
    ASSERT_EQ(raw.size, 6 + count * sizeof(GroupIconEntry));

    const struct {
        BYTE side;
        DWORD bytes;
        WORD id;
    } expected[] = {{16, 1384, 1}, {20, 1544, 2}};
    for (int i = 0; i < 2; ++i) {
        GroupIconEntry entry;
        memcpy(&entry, raw.data + 6 + i * sizeof(entry), sizeof(entry));
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(entry.width, expected[i].side);
        EXPECT_EQ(entry.height, expected[i].side);
        EXPECT_EQ(entry.colorCount, 0) << "256 colours are written as 0";
        EXPECT_EQ(entry.planes, 1);
        EXPECT_EQ(entry.bitCount, 8);
        EXPECT_EQ(entry.bytesInRes, expected[i].bytes);
        EXPECT_EQ(entry.bytesInRes, EightBitIconBytes(expected[i].side));
        EXPECT_EQ(entry.id, expected[i].id);

        Bytes image = Raw(RT_ICON, MAKEINTRESOURCEW(entry.id), kEnglish);
        ASSERT_NE(image.data, nullptr) << "image " << entry.id << " is missing";
        EXPECT_EQ(image.size, entry.bytesInRes) << "image " << entry.id;
        ASSERT_GE(image.size, sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        memcpy(&header, image.data, sizeof(header));
        EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(header.biWidth, expected[i].side);
        EXPECT_EQ(header.biHeight, 2 * expected[i].side) << "pixels and mask";
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 8);
        EXPECT_EQ(header.biCompression, DWORD(BI_RGB));
    }
}

// ---- manifest and version record ---------------------------------------------------------------

TEST(Manifest, AsksForTheInvokerLevelAndNothingElse)
{
    Bytes raw = Raw(RT_MANIFEST, MAKEINTRESOURCEW(1), kEnglish);
    ASSERT_NE(raw.data, nullptr);
    EXPECT_EQ(raw.size, 346u);
    std::string text(reinterpret_cast<const char*>(raw.data), raw.size);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0) > 0,
              true)
        << "not UTF-8";
    EXPECT_NE(text.find("manifestVersion=\"1.0\""), std::string::npos) << text;
    EXPECT_NE(text.find("requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\""), std::string::npos) << text;
    // Version 6 of the common controls would change how the list and its editor behave.
    EXPECT_EQ(text.find("Microsoft.Windows.Common-Controls"), std::string::npos) << text;
    EXPECT_EQ(text.find("compatibility"), std::string::npos) << text;
    EXPECT_EQ(text.find("dpiAware"), std::string::npos) << text;  // dpiAwareness too
}

// One node of the version tree: length, value length, type, key, value, children.
struct VersionNode {
    std::wstring key;
    WORD type = 0;
    std::vector<BYTE> value;  // raw bytes (a text is counted in characters by the record)
    std::vector<VersionNode> children;
};

bool ReadVersionNode(const BYTE* data, DWORD size, VersionNode* node)
{
    if (size < 6)
        return false;
    WORD length = WORD(data[0] | data[1] << 8);
    WORD valueLength = WORD(data[2] | data[3] << 8);
    node->type = WORD(data[4] | data[5] << 8);
    if (length < 6 || length > size)
        return false;
    Reader reader({data, length});
    reader.Skip(6);
    node->key = reader.NulTerminated();
    reader.AlignToDword();
    DWORD valueBytes = node->type == 1 ? valueLength * 2u : valueLength;
    if (reader.overrun() || valueBytes > reader.left())
        return false;
    node->value.assign(data + reader.offset(), data + reader.offset() + valueBytes);
    reader.Skip(valueBytes);
    reader.AlignToDword();
    while (reader.left() > 0) {
        VersionNode child;
        if (!ReadVersionNode(data + reader.offset(), reader.left(), &child))
            return false;
        WORD childLength = WORD(data[reader.offset()] | data[reader.offset() + 1] << 8);
        reader.Skip(childLength);
        reader.AlignToDword();
        node->children.push_back(child);
    }
    return true;
}

std::wstring TextValue(const VersionNode& node)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(node.value.data()), node.value.size() / 2);
    return text.substr(0, text.find(L'\0'));
}

TEST(VersionRecord, ParsesAndNamesTheProductAndItsVersion)
{
    Bytes raw = Raw(RT_VERSION, MAKEINTRESOURCEW(1), kEnglish);
    ASSERT_NE(raw.data, nullptr);
    VersionNode root;
    ASSERT_TRUE(ReadVersionNode(raw.data, raw.size, &root)) << "the version tree does not parse";
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, root.value.data(), sizeof(fixed));
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwStrucVersion, 0x00010000u);
    EXPECT_EQ(fixed.dwFileType, DWORD(VFT_APP));

    const VersionNode* strings = nullptr;
    for (const VersionNode& child : root.children) {
        if (child.key == L"StringFileInfo" && !child.children.empty())
            strings = &child.children[0];
    }
    ASSERT_NE(strings, nullptr) << "no StringFileInfo table";
    std::map<std::wstring, std::wstring> values;
    for (const VersionNode& value : strings->children)
        values[value.key] = TextValue(value);
    for (const wchar_t* key : {L"CompanyName", L"ProductName", L"FileDescription", L"FileVersion", L"ProductVersion"})
        EXPECT_FALSE(values[key].empty()) << Narrow(key) << " is missing";

    // What Explorer shows from the texts must agree with the numbers.
    std::wostringstream fileVersion;
    fileVersion << HIWORD(fixed.dwFileVersionMS) << L"." << LOWORD(fixed.dwFileVersionMS) << L"."
                << HIWORD(fixed.dwFileVersionLS) << L"." << LOWORD(fixed.dwFileVersionLS);
    EXPECT_EQ(values[L"FileVersion"], fileVersion.str());
}

}  // namespace
