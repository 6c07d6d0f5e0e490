// The browser host's side of native messaging: the framed request it reads, the
// codes of what it refuses, and the framing of what it sends. Platform-free, so
// it is unit-tested and fuzzed natively.
#ifndef HALVANE_HOST_MESSAGE_H
#define HALVANE_HOST_MESSAGE_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// A request is far smaller; anything longer is refused before it is read.
enum : uint32_t { MaxMessageBytes = 64 * 1024 };

// Every failure the host reports. The codes (HostErrorCode) are what the
// extension sees and may act on: they never change meaning.
enum HostError {
    HostOk,
    ErrorTruncated,    // "truncated": the input ended inside the length or the body
    ErrorLength,       // "bad-length": a length of 0 or over MaxMessageBytes
    ErrorEncoding,     // "bad-encoding": the body is not UTF-8
    ErrorJson,         // "bad-json": the body is not a JSON object
    ErrorFields,       // "bad-fields": not exactly site, title and language, each a string
    ErrorSite,         // "bad-site": not a lower-case host name
    ErrorTitle,        // "bad-title": empty, or holds CR, LF or NUL
    ErrorLanguage,     // "bad-language": not a language tag
    ErrorTitleLength,  // "title-too-long": Halvane's command line would pass 32,767 characters
    ErrorBreakaway,    // "no-breakaway": the browser's job would end Halvane with the host
    ErrorStart,        // "start-failed": halvane.exe could not be started
};

const char* HostErrorCode(HostError error);
// An English sentence for the extension's log; never shown to a page as is.
const char* HostErrorMessage(HostError error);

// Fills buffer with up to size bytes and gives how many; 0 at the end of the input or on failure.
typedef size_t (*ReadBytes)(void* context, char* buffer, size_t size);

// Reads one message: a 4-byte length in native byte order, then that many bytes
// of UTF-8. Reads nothing past it, and no body at all after a bad length.
HostError ReadMessage(ReadBytes read, void* context, std::string* body);

// Well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& text);

// "error N", a Windows error number for a message or a line of output.
std::string ErrorNumber(uint32_t error);

// The length in native byte order, then the body.
std::string FrameMessage(const std::string& body);

#endif
