#include "host/host_request.h"

#include "host/host_identity.h"
#include "host/json.h"

#include <vector>

namespace {

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool AllOf(const std::string& text, bool (*test)(char))
{
    for (char c : text) {
        if (!test(c))
            return false;
    }
    return true;
}

bool IsTitle(const std::string& title)
{
    return !title.empty() && title.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// The subtags of a well-formed tag, lower-cased: 1 to 8 letters or digits each,
// the first of letters (a single letter only for the private "x" and the old "i" forms).
bool SplitTag(const std::string& tag, std::vector<std::string>* subtags)
{
    if (tag.empty() || tag.size() > 64)
        return false;
    std::string subtag;
    for (size_t i = 0; i <= tag.size(); ++i) {
        if (i < tag.size() && tag[i] != '-') {
            char c = tag[i];
            if (!IsLetter(c) && !IsDigit(c))
                return false;
            subtag += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            continue;
        }
        if (subtag.empty() || subtag.size() > 8)
            return false;
        subtags->push_back(subtag);
        subtag.clear();
    }
    const std::string& language = (*subtags)[0];
    return AllOf(language, IsLetter) && (language.size() > 1 || language == "x" || language == "i");
}

// Languages whose Halvane code is their own primary subtag, whatever the region.
const char* const kPlainCodes[] = {"cs", "da", "de", "en", "fi", "hu", "it", "ja", "ko",
                                   "nl", "pl", "pt", "ru", "sv", "tr"};

// The script decides when it is given; otherwise Taiwan, Hong Kong and Macao
// write Traditional Chinese and the rest Simplified.
const char* ChineseCode(const std::string& script, const std::string& region)
{
    if (script == "hant")
        return "zh-cht";
    if (script == "hans")
        return "zh-chs";
    return region == "tw" || region == "hk" || region == "mo" ? "zh-cht" : "zh-chs";
}

}  // namespace

bool IsHostName(const std::string& site)
{
    if (site.empty() || site.size() > 253)
        return false;
    size_t labelStart = 0;
    for (size_t i = 0; i <= site.size(); ++i) {
        if (i < site.size() && site[i] != '.') {
            char c = site[i];
            if (!(c >= 'a' && c <= 'z') && !IsDigit(c) && c != '-')
                return false;
            continue;
        }
        size_t length = i - labelStart;
        if (length < 1 || length > 63 || site[labelStart] == '-' || site[i - 1] == '-')
            return false;
        labelStart = i + 1;
    }
    return true;
}

const char* InterfaceCodeForTag(const std::string& tag)
{
    std::vector<std::string> subtags;
    if (!SplitTag(tag, &subtags))
        return nullptr;
    const std::string& language = subtags[0];
    std::string script, region;
    size_t next = 1;
    if (next < subtags.size() && subtags[next].size() == 4 && AllOf(subtags[next], IsLetter))
        script = subtags[next++];
    if (next < subtags.size() && ((subtags[next].size() == 2 && AllOf(subtags[next], IsLetter)) ||
                                  (subtags[next].size() == 3 && AllOf(subtags[next], IsDigit))))
        region = subtags[next];

    if (language == "es")
        return region == "mx" || region == "419" ? "es-mx" : "es";
    if (language == "fr")
        return region == "ca" ? "fr-ca" : "fr";
    if (language == "zh")
        return ChineseCode(script, region);
    if (language == "no" || language == "nb" || language == "nn")
        return "no";
    for (const char* code : kPlainCodes) {
        if (language == code)
            return code;
    }
    return "en";
}

HostError ParseRequest(const std::string& body, HostRequest* request)
{
    rapidjson::Document json;
    json.Parse<HostParseFlags>(body.data(), body.size());
    if (json.HasParseError() || !json.IsObject())
        return ErrorJson;
    // Three members, each of the three names once: nothing more, and no name
    // twice (which another reader might take the other way).
    if (json.MemberCount() != 3)
        return ErrorFields;
    std::string values[3];
    const char* const names[3] = {"site", "title", "language"};
    for (int i = 0; i < 3; ++i) {
        int found = 0;
        for (const auto& member : json.GetObject()) {
            if (member.name == names[i] && member.value.IsString()) {
                values[i].assign(member.value.GetString(), member.value.GetStringLength());
                ++found;
            }
        }
        if (found != 1)
            return ErrorFields;
        // A lone surrogate written as an escape comes out of the parser as such.
        if (!IsUtf8(values[i]))
            return ErrorEncoding;
    }
    if (!IsHostName(values[0]))
        return ErrorSite;
    if (!IsTitle(values[1]))
        return ErrorTitle;
    const char* code = InterfaceCodeForTag(values[2]);
    if (!code)
        return ErrorLanguage;
    request->languageCode = Utf16FromUtf8(code);
    request->site = Utf16FromUtf8(values[0]);
    request->windowTitle = Utf16FromUtf8(values[1]);
    return HostOk;
}

HostError BuildHalvaneCommandLine(const std::wstring& exePath, const HostRequest& request, std::wstring* commandLine)
{
    // A quote in the path would end it early; Windows allows none there.
    if (exePath.find(L'"') != std::wstring::npos)
        return ErrorStart;
    std::wstring line = L"\"" + exePath + L"\" " + request.languageCode + L" " + request.site + L" \"" +
                        request.windowTitle + L"\"";
    if (line.size() >= MaxCommandLineChars)
        return ErrorTitleLength;
    *commandLine = line;
    return HostOk;
}

std::wstring Utf16FromUtf8(const std::string& text)
{
    std::wstring out;
    const unsigned char* c = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = c + text.size();
    while (c < end) {
        unsigned lead = *c++;
        int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        uint32_t point = more == 0 ? lead : lead & (0x3F >> more);
        for (int i = 0; i < more && c < end; ++i)
            point = (point << 6) | (*c++ & 0x3F);
        if (point >= 0x10000) {
            point -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (point >> 10));
            out += static_cast<wchar_t>(0xDC00 + (point & 0x3FF));
        } else {
            out += static_cast<wchar_t>(point);
        }
    }
    return out;
}

bool Utf8FromUtf16(const std::wstring& text, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t point = static_cast<uint32_t>(text[i]);
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size() &&
            static_cast<uint32_t>(text[i + 1]) >= 0xDC00 && static_cast<uint32_t>(text[i + 1]) <= 0xDFFF) {
            point = 0x10000 + ((point - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
        } else if (point >= 0xD800 && (point <= 0xDFFF || point > 0xFFFF)) {
            return false;
        }
        if (point < 0x80) {
            *out += static_cast<char>(point);
        } else if (point < 0x800) {
            *out += static_cast<char>(0xC0 | (point >> 6));
            *out += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            *out += static_cast<char>(0xE0 | (point >> 12));
            *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (point >> 18));
            *out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return true;
}

std::string HostManifest(const std::string& exePath)
{
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    writer.StartObject();
    writer.Key("name");
    writer.String(HALVANE_HOST_NAME);
    writer.Key("description");
    writer.String(HALVANE_HOST_DESCRIPTION);
    writer.Key("path");
    writer.String(exePath.data(), static_cast<rapidjson::SizeType>(exePath.size()));
    writer.Key("type");
    writer.String("stdio");
    writer.Key("allowed_extensions");
    writer.StartArray();
    writer.String(HALVANE_EXTENSION_ID);
    writer.EndArray();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}
