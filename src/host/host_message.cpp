#include "host/host_message.h"

#include <string.h>

namespace {

struct ErrorText {
    const char* code;
    const char* message;
};

// Indexed by HostError.
const ErrorText kErrorTexts[] = {
    {"", ""},
    {"truncated", "the message ended before its length said"},
    {"bad-length", "the message is empty or longer than 65536 bytes"},
    {"bad-encoding", "the message is not UTF-8"},
    {"bad-json", "the message is not a JSON object"},
    {"bad-fields", "the message must hold exactly \"site\", \"title\" and \"language\", each a string"},
    {"bad-site", "the site is not a lower-case host name"},
    {"bad-title", "the title is empty or holds a line break or NUL"},
    {"bad-language", "the language is not a language tag"},
    {"title-too-long", "the title is too long for Halvane's command line"},
    {"no-breakaway", "the browser's job does not let Halvane outlive the host, so it was not started"},
    {"start-failed", "halvane.exe could not be started"},
};

// Reads exactly size bytes unless the input ends first.
bool ReadFully(ReadBytes read, void* context, char* buffer, size_t size)
{
    while (size > 0) {
        size_t got = read(context, buffer, size);
        if (got == 0 || got > size)
            return false;
        buffer += got;
        size -= got;
    }
    return true;
}

}  // namespace

const char* HostErrorCode(HostError error)
{
    return kErrorTexts[error].code;
}

const char* HostErrorMessage(HostError error)
{
    return kErrorTexts[error].message;
}

HostError ReadMessage(ReadBytes read, void* context, std::string* body)
{
    char header[4];
    if (!ReadFully(read, context, header, sizeof(header)))
        return ErrorTruncated;
    uint32_t length;
    memcpy(&length, header, sizeof(length));
    if (length == 0 || length > MaxMessageBytes)
        return ErrorLength;
    body->assign(length, '\0');
    if (!ReadFully(read, context, &(*body)[0], length))
        return ErrorTruncated;
    return IsUtf8(*body) ? HostOk : ErrorEncoding;
}

bool IsUtf8(const std::string& text)
{
    const unsigned char* c = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = c + text.size();
    while (c < end) {
        unsigned lead = *c++;
        if (lead < 0x80)
            continue;
        // The lead byte gives the count of continuation bytes and the range
        // the first of them must fall in (which rules out overlong forms,
        // surrogates and code points above U+10FFFF).
        int more;
        unsigned low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - c < more)
            return false;
        if (*c < low || *c > high)
            return false;
        for (int i = 1; i < more; ++i) {
            if ((c[i] & 0xC0) != 0x80)
                return false;
        }
        c += more;
    }
    return true;
}

std::string ErrorNumber(uint32_t error)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + error % 10));
        error /= 10;
    } while (error);
    return "error " + digits;
}

std::string FrameMessage(const std::string& body)
{
    uint32_t length = static_cast<uint32_t>(body.size());
    std::string framed(sizeof(length), '\0');
    memcpy(&framed[0], &length, sizeof(length));
    return framed + body;
}
