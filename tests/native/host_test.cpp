// The browser host's platform-free half: reader, request checks, language map, the watch
// and its messages, manifest, and a command line that Halvane's own parser turns back into
// the three values.
#include "app/command_line.h"
#include "app/language_table.h"
#include "host/host_identity.h"
#include "host/host_message.h"
#include "host/host_request.h"
#include "host/host_watch.h"
#include "host/json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;

std::string Length(uint32_t length)
{
    std::string bytes(4, '\0');
    std::memcpy(&bytes[0], &length, 4);
    return bytes;
}

// Hands out the input a few bytes at a time, as a pipe may.
struct Input { std::string bytes; size_t chunk, at = 0; };

size_t ReadChunk(void* context, char* buffer, size_t size)
{
    Input* input = static_cast<Input*>(context);
    size_t count = std::min({size, input->chunk, input->bytes.size() - input->at});
    std::memcpy(buffer, input->bytes.data() + input->at, count);
    input->at += count;
    return count;
}

TEST(HostReader, ReadsOneMessageWithinItsLimits)
{
    const std::string full(MaxMessageBytes, 'a');
    // consumed: a reader that took more would eat into what follows, or wait for it.
    const struct { const char* name; std::string bytes; HostError expected; size_t consumed; } cases[] = {
        {"no input", "", ErrorTruncated, 0},
        {"part of the length", std::string("\x05\x00", 2), ErrorTruncated, 2},
        {"length 0", Length(0) + "{}", ErrorLength, 4},
        {"one byte over 64 KiB", Length(MaxMessageBytes + 1) + full + "a", ErrorLength, 4},
        {"length 0xFFFFFFFF", Length(0xFFFFFFFF) + "{}", ErrorLength, 4},
        {"body shorter than its length", Length(10) + "12345", ErrorTruncated, 9},
        {"64 KiB exactly, then more", Length(MaxMessageBytes) + full + "next", HostOk, 4 + MaxMessageBytes},
        {"two- to four-byte UTF-8", Length(11) + "\"\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80\"", HostOk, 15},
        {"a byte that is never UTF-8", Length(3) + "\"\xFF\"", ErrorEncoding, 7},
        {"a stray continuation byte", Length(3) + "\"\x80\"", ErrorEncoding, 7},
        {"an overlong NUL", Length(4) + "\"\xC0\x80\"", ErrorEncoding, 8},
        {"an overlong three-byte form", Length(5) + "\"\xE0\x80\xAF\"", ErrorEncoding, 9},
        {"a surrogate", Length(5) + "\"\xED\xA0\x80\"", ErrorEncoding, 9},
        {"above U+10FFFF", Length(6) + "\"\xF4\x90\x80\x80\"", ErrorEncoding, 10},
        {"a sequence cut short", Length(3) + "\"\xE2\x82", ErrorEncoding, 7},
    };
    for (const auto& c : cases) {
        for (size_t chunk : {size_t(1), size_t(4096)}) {
            SCOPED_TRACE(std::string(c.name) + ", read " + std::to_string(chunk) + " at a time");
            Input input{c.bytes, chunk};
            std::string body;
            EXPECT_EQ(ReadMessage(ReadChunk, &input, &body), c.expected);
            EXPECT_EQ(input.at, c.consumed);
            if (c.expected == HostOk)
                EXPECT_EQ(body, c.bytes.substr(4, c.consumed - 4));
        }
    }
}

std::string Request(const std::string& site, const std::string& title, const std::string& language)
{
    return "{\"site\":\"" + site + "\",\"title\":\"" + title + "\",\"language\":\"" + language + "\"}";
}

TEST(HostRequest, AnythingOutsideTheLimitsIsRefused)
{
    const std::string label63(63, 'a'), label64(64, 'a');
    // Four labels and the dots between them: 253 characters, and 254.
    const std::string longest = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'a');
    std::vector<std::pair<std::string, HostError>> bodies = {
        {Request("example.org", "My Page", "en-US"), HostOk},
        {"hello", ErrorJson},
        {"{\"site\":\"a.org\"", ErrorJson},  // cut short
        {Request("a.org", "T", "en") + " x", ErrorJson},
        {"[\"a.org\",\"T\",\"en\"]", ErrorJson},
        {"\"a.org\"", ErrorJson},
        {"null", ErrorJson},
        {"{\"site\":\"a.org\",\"title\":\"T\"}", ErrorFields},
        {"{\"site\":\"a.org\",\"title\":\"T\",\"language\":\"en\",\"x\":1}", ErrorFields},
        {"{\"site\":\"a.org\",\"site\":\"b.org\",\"language\":\"en\"}", ErrorFields},
        {"{\"Site\":\"a.org\",\"title\":\"T\",\"language\":\"en\"}", ErrorFields},
        {"{\"site\":1,\"title\":\"T\",\"language\":\"en\"}", ErrorFields},
        {"{\"site\":\"a.org\",\"title\":null,\"language\":\"en\"}", ErrorFields},
        {"{\"site\":\"a.org\",\"title\":\"T\",\"language\":[\"en\"]}", ErrorFields},
        {Request("a.org", "", "en"), ErrorTitle},
        {Request("a.org", "a\\rb", "en"), ErrorTitle},
        {Request("a.org", "a\\nb", "en"), ErrorTitle},
        {Request("a.org", "a\\u0000b", "en"), ErrorTitle},
        {Request("a.org", "a\\udc00", "en"), ErrorEncoding},  // a lone surrogate
        {Request("a.org", "\\t\\\"x\\\" \\ud83d\\ude00", "en"), HostOk},
        // A well-formed language that Halvane lacks is good; it is English then.
        {Request("a.org", "T", "el-GR"), HostOk},
    };
    for (const std::string& site : {"xn--bcher-kva.example"s, label63 + ".org", longest, "127.0.0.1"s})
        bodies.push_back({Request(site, "T", "en"), HostOk});  // an address and a plain name too
    for (const std::string& site : {"exa mple.org"s, "\\\"a.org\\\""s, "Example.org"s, "b\xC3\xBC" "cher.example"s, ""s,
                                    "a..org"s, "a.org."s, "-a.org"s, "a-.org"s, "a_b.org"s, "a.org:80"s,
                                    label64 + ".org", longest + "a"})
        bodies.push_back({Request(site, "T", "en"), ErrorSite});
    for (const char* language : {"", "en_US", "en US", "en-", "-en", "e", "en-abcdefghi", "1en", "\xC3\xA9n"})
        bodies.push_back({Request("a.org", "T", language), ErrorLanguage});
    for (const auto& [body, expected] : bodies) {
        HostRequest request;
        EXPECT_EQ(ParseRequest(body, &request), expected) << body;
    }
}

TEST(HostRequest, GivesTheValuesAsUtf16)
{
    HostRequest request;
    ASSERT_EQ(ParseRequest(Request("example.org", "\\\"AT&T\\\" \xE2\x80\x94 \xF0\x9F\x98\x80", "de-AT"), &request),
              HostOk);
    EXPECT_EQ(request.site, L"example.org");
    EXPECT_EQ(request.languageCode, L"de");
    const wchar_t title[] = {L'"', L'A', L'T', L'&', L'T', L'"', L' ', 0x2014, L' ', 0xD83D, 0xDE00};
    EXPECT_EQ(request.windowTitle, std::wstring(title, sizeof(title) / sizeof(title[0])));
}

TEST(HostLanguage, MapsTagsOntoHalvanesCodes)
{
    const struct { const char* tag, *code; } cases[] = {
        {"en", "en"}, {"en-US", "en"}, {"EN-gb", "en"}, {"cs", "cs"}, {"da-DK", "da"}, {"de-AT", "de"},
        {"es", "es"}, {"es-ES", "es"}, {"es-AR", "es"}, {"es-MX", "es-mx"}, {"es-419", "es-mx"},
        {"fi", "fi"}, {"fr", "fr"}, {"fr-BE", "fr"}, {"fr-CA", "fr-ca"}, {"hu", "hu"}, {"it-CH", "it"},
        {"ja-JP", "ja"}, {"ko", "ko"}, {"nl-BE", "nl"}, {"no", "no"}, {"nb", "no"}, {"nn-NO", "no"},
        {"pl", "pl"}, {"pt", "pt"}, {"pt-BR", "pt"}, {"pt-PT", "pt"}, {"ru", "ru"}, {"sv-SE", "sv"},
        {"tr", "tr"}, {"zh-CN", "zh-chs"}, {"zh-Hans", "zh-chs"}, {"zh-SG", "zh-chs"}, {"zh", "zh-chs"},
        {"zh-Hans-HK", "zh-chs"}, {"zh-TW", "zh-cht"}, {"zh-HK", "zh-cht"}, {"zh-MO", "zh-cht"},
        {"zh-Hant", "zh-cht"}, {"zh-Hant-CN", "zh-cht"}, {"el", "en"}, {"sr-Latn-RS", "en"},
        {"en-US-x-private", "en"}, {"x-private", "en"}, {"i-klingon", "en"},
    };
    std::set<std::string> reached;
    for (const auto& c : cases) {
        const char* code = InterfaceCodeForTag(c.tag);
        ASSERT_NE(code, nullptr) << c.tag;
        EXPECT_STREQ(code, c.code) << c.tag;
        reached.insert(code);
    }
    // Every code it gives is one that Halvane's table knows, and each is reachable.
    std::set<std::string> known;
    for (const InterfaceLanguage& language : InterfaceLanguages)
        known.insert(std::string(language.code, language.code + std::wcslen(language.code)));
    EXPECT_EQ(reached, known);
}

// The tail the C runtime hands wWinMain: the path skipped (a quote toggles), then the blanks.
std::wstring TailOf(const std::wstring& commandLine)
{
    size_t i = 0;
    for (bool quoted = false; i < commandLine.size() && (commandLine[i] > L' ' || quoted); ++i)
        quoted ^= commandLine[i] == L'"';
    while (i < commandLine.size() && commandLine[i] <= L' ')
        ++i;
    return commandLine.substr(i);
}

// Builds the line, takes its tail as halvane.exe would and parses it with Halvane's own parser.
void ExpectRoundTrip(const std::wstring& exe, const HostRequest& request)
{
    std::wstring line;
    ASSERT_EQ(BuildHalvaneCommandLine(exe, request, &line), HostOk);
    std::wstring tail = TailOf(line);
    std::vector<wchar_t> buffer(tail.c_str(), tail.c_str() + tail.size() + 1);  // exact, so ASan sees overreads
    LaunchValues values{};
    ASSERT_EQ(ParseCommandLine(buffer.data(), &values), 1);
    EXPECT_EQ(std::wstring(values.languageCode), request.languageCode);
    EXPECT_EQ(std::wstring(values.site), request.site);
    EXPECT_EQ(std::wstring(values.windowTitle), request.windowTitle);
}

// Arbitrary requests round-trip in the fuzz target fuzz_host_message; here the
// paths and the titles the parser treats specially.
TEST(HostCommandLine, HalvanesParserGivesBackTheThreeValuesWithinWindowsBound)
{
    for (const wchar_t* exe : {L"C:\\Program Files\\Halvane\\halvane.exe", L"C:\\h\\halvane.exe"}) {
        for (const wchar_t* title :
             {L"\"", L"\"\"", L"\" \"", L" ", L"a\"", L"\"a", L"x\" \"y", L"T  ", L"  T",
              L"\t\\%&_\u2014\xD83D\xDE00"}) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(exe) + L" " + title));
            ExpectRoundTrip(exe, HostRequest{L"zh-cht", L"a-1.b9.example", title});
        }
    }
    std::wstring line;
    EXPECT_EQ(BuildHalvaneCommandLine(L"\\\\?\\D:\\a \"b\\halvane.exe", HostRequest{L"en", L"a.org", L"T"}, &line),
              ErrorStart)
        << "a quote would end the path";

    // Within Windows' bound: "EXE" en a.org "TITLE", the title gets what the rest leaves of 32,766 characters.
    const std::wstring exe = L"C:\\h\\halvane.exe";
    const size_t room = MaxCommandLineChars - 1 - (exe.size() + 2 + 1 + 2 + 1 + 5 + 1 + 2);
    EXPECT_EQ(BuildHalvaneCommandLine(exe, HostRequest{L"en", L"a.org", std::wstring(room, L'x')}, &line), HostOk);
    EXPECT_EQ(line.size(), MaxCommandLineChars - 1);
    ExpectRoundTrip(exe, HostRequest{L"en", L"a.org", std::wstring(room, L'x')});
    EXPECT_EQ(BuildHalvaneCommandLine(exe, HostRequest{L"en", L"a.org", std::wstring(room + 1, L'x')}, &line),
              ErrorTitleLength);
}

TEST(HostEvents, CodesAreStableAndMessagesFramed)
{
    const struct { HostError error; const char* code; } codes[] = {
        {ErrorTruncated, "truncated"},   {ErrorLength, "bad-length"},         {ErrorEncoding, "bad-encoding"},
        {ErrorJson, "bad-json"},         {ErrorFields, "bad-fields"},         {ErrorSite, "bad-site"},
        {ErrorTitle, "bad-title"},       {ErrorLanguage, "bad-language"},     {ErrorTitleLength, "title-too-long"},
        {ErrorBreakaway, "no-breakaway"}, {ErrorStart, "start-failed"},
    };
    for (const auto& c : codes) {
        rapidjson::Document message;
        std::string text = ErrorEvent(c.error, "error 5");
        message.Parse(text.c_str());
        ASSERT_TRUE(message.IsObject()) << text;
        EXPECT_EQ(message.MemberCount(), 3u) << text;
        EXPECT_STREQ(message["event"].GetString(), "error");
        EXPECT_STREQ(message["error"].GetString(), c.code);
        EXPECT_NE(std::string(message["message"].GetString()).find("(error 5)"), std::string::npos) << text;
    }
    EXPECT_EQ(StartedEvent(4294967295u), "{\"event\":\"started\",\"pid\":4294967295}");
    EXPECT_EQ(BusyEvent(), "{\"event\":\"busy\"}");
    EXPECT_EQ(PolicyEvent(), "{\"event\":\"policy\"}");
    EXPECT_EQ(EndedEvent("error", 0xFFFFFFFEu, true),
              "{\"event\":\"ended\",\"outcome\":\"error\",\"exitCode\":-2,\"asked\":true}")
        << "Halvane's -2 as Halvane gives it";
    // The one message the extension posts after its request, and what only looks like it.
    EXPECT_TRUE(IsWithdrawal("{\"withdraw\":true}"));
    for (const char* other : {"{\"withdraw\":false}", "{\"withdraw\":1}", "{\"withdraw\":\"true\"}", "{\"Withdraw\":true}",
                              "{\"withdraw\":true,\"withdraw\":true}", "[true]", "{\"withdraw\":true", ""})
        EXPECT_FALSE(IsWithdrawal(other)) << other;
    EXPECT_EQ(FrameMessage("{}"), Length(2) + "{}");
    EXPECT_EQ(ErrorNumber(0), "error 0");
}

// Before Halvane starts: 'A' the site has a stored Allow, 'T' the window is on
// top already. Each look: '.' nothing, 'P' a window of Halvane's shown, 'T' the
// browser window topmost, 'B' both, 'p' nothing shown, but a window of Halvane's
// showed and closed since the look before; a look of '!' is none, but another Halvane
// holds the mutex at the end. Then Halvane ends with the exit code, or the host
// ends it (withdrawn), and its decision is read.
TEST(HostWatch, EachChangeIsToldOnceAndTheEndReadsAsWhatHappened)
{
    const struct { const char* name; const char* before; const char* looks; uint32_t exitCode;
                   StoredDecision decision; bool withdrawn; const char* sent; const char* outcome; } cases[] = {
        {"just this time, then let go", "", "..PPP..TTT..", 0, StoredNone, false, "asking kept", "released"},
        {"always, kept, then Preferences made it a Deny", "", "PP.TT", 0, StoredDeny, false, "asking kept", "released"},
        {"remembered Allow", "A", "TTTT", 0, StoredAllow, false, "kept", "released"},
        {"kept, lost and on top again: told once", "A", "T.T.T", 0, StoredAllow, false, "kept", "released"},
        {"on top while the prompt shows", "", "BBB", 0, StoredNone, false, "asking", "dismissed"},
        {"on top while the prompt shows, then kept", "", "BB.T", 0, StoredNone, false, "asking kept", "released"},
        {"on top before Halvane started, then Cancel", "T", "TTBBTT", 0, StoredNone, false, "asking", "dismissed"},
        {"on top before Halvane started, then kept", "T", "TBBTTT", 0, StoredNone, false, "asking kept", "released"},
        {"on top before, and a remembered Allow", "AT", "TT", 0, StoredAllow, false, "kept", "released"},
        {"never", "", "PPP.", 0, StoredDeny, false, "asking", "declined"},
        {"remembered Deny", "", "", 0, StoredDeny, false, "", "declined"},
        {"another stored value, which Halvane does not act on", "", "", 0, StoredOther, false, "", "declined"},
        {"cancel", "", "PPP", 0, StoredNone, false, "asking", "dismissed"},
        {"a second showing is told again", "", "PP.PP", 0, StoredNone, false, "asking asking", "dismissed"},
        {"Escape at once, between two looks", "", ".p..", 0, StoredNone, false, "asking", "dismissed"},
        {"just this time between two looks", "", ".pT", 0, StoredNone, false, "asking kept", "released"},
        {"shown again between two looks", "", "P.p", 0, StoredNone, false, "asking asking", "dismissed"},
        {"always for a window that was gone", "", "PP.", 0, StoredAllow, false, "asking", "not-found"},
        {"remembered Allow, no such window", "A", "..", 0, StoredAllow, false, "", "not-found"},
        {"the mutex taken first", "", "!", 0, StoredNone, false, "", "busy"},
        {"the mutex taken first, with a remembered Allow", "A", "!", 0, StoredAllow, false, "", "busy"},
        {"no prompt seen: none could be made", "", "", 0, StoredNone, false, "", "no-prompt"},
        {"a malformed command line", "", "", 0xFFFFFFFEu, StoredDeny, false, "", "error"},
        {"ended badly after a keep", "A", "T", 3, StoredAllow, false, "kept", "error"},
        {"withdrawn while asking", "", ".PP", 1, StoredNone, true, "asking", "withdrawn"},
        {"withdrawn before the prompt showed", "", "..", 1, StoredNone, true, "", "withdrawn"},
        // The administrators' policy: K allows the site (so Halvane keeps without asking), D declines it.
        {"allowed by policy", "AK", "TTT", 0, StoredNone, false, "kept", "released"},
        {"allowed by policy over the user's Deny", "AK", "TT", 0, StoredDeny, false, "kept", "released"},
        {"allowed by policy, no such window", "AK", "..", 0, StoredNone, false, "", "not-found"},
        {"allowed by policy, the mutex taken first", "AK", "!", 0, StoredNone, false, "", "busy"},
        {"blocked by policy", "D", "", 0, StoredNone, false, "", "declined"},
        {"blocked by policy over the user's Allow", "D", "", 0, StoredAllow, false, "", "declined"},
        {"blocked by policy, ended from outside", "D", "", 1, StoredNone, false, "", "error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchState state;
        state.allowedBefore = strchr(c.before, 'A') != nullptr;
        state.topmostBefore = strchr(c.before, 'T') != nullptr;
        state.policyKeeps = strchr(c.before, 'K') != nullptr;
        state.policyDeclines = strchr(c.before, 'D') != nullptr;
        std::string sent;
        bool otherRuns = strchr(c.looks, '!') != nullptr;
        for (const char* look = c.looks; *look && *look != '!'; ++look) {
            WatchSample sample = {*look == 'P' || *look == 'B', *look == 'T' || *look == 'B', *look == 'p'};
            for (const std::string& message : WatchStep(&state, sample)) {
                rapidjson::Document parsed;
                parsed.Parse(message.c_str());
                ASSERT_TRUE(parsed.IsObject() && parsed.MemberCount() == 1u) << message;
                sent += (sent.empty() ? "" : " ") + std::string(parsed["event"].GetString());
            }
        }
        EXPECT_EQ(sent, c.sent);
        EXPECT_STREQ(EndOutcome(state, c.exitCode, c.decision, otherRuns, c.withdrawn), c.outcome);
    }
}

TEST(HostManifest, NamesThisHostAndTheExtension)
{
    const std::wstring exe = L"C:\\Users\\J\xF6rg \"x\\h\xE4lvane-host.exe\xD83D\xDE00";
    std::string exeText;
    ASSERT_TRUE(Utf8FromUtf16(exe, &exeText));
    EXPECT_EQ(Utf16FromUtf8(exeText), exe);
    std::string out;
    EXPECT_FALSE(Utf8FromUtf16(std::wstring(1, static_cast<wchar_t>(0xDC00)), &out)) << "a lone surrogate";

    rapidjson::Document manifest;
    std::string text = HostManifest(exeText);
    manifest.Parse(text.c_str());
    ASSERT_TRUE(manifest.IsObject()) << text;
    EXPECT_EQ(manifest.MemberCount(), 5u);
    EXPECT_STREQ(manifest["name"].GetString(), HALVANE_HOST_NAME);
    EXPECT_TRUE(std::regex_match(manifest["name"].GetString(), std::regex("^\\w+(\\.\\w+)*$")));
    EXPECT_EQ(std::string(manifest["path"].GetString()), exeText);
    EXPECT_STREQ(manifest["type"].GetString(), "stdio");
    EXPECT_STRNE(manifest["description"].GetString(), "");
    ASSERT_TRUE(manifest["allowed_extensions"].IsArray());
    ASSERT_EQ(manifest["allowed_extensions"].Size(), 1u);
    EXPECT_STREQ(manifest["allowed_extensions"][0].GetString(), HALVANE_EXTENSION_ID);
    EXPECT_EQ(std::string(HALVANE_HOST_MANIFEST), std::string(HALVANE_HOST_NAME) + ".json");
}

}  // namespace
