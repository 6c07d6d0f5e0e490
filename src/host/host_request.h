// What the browser host makes of a request: the three values checked and
// turned into Halvane's command line, and the manifest that registers the host.
// Platform-free. Wide strings hold UTF-16 code units on every platform (a
// character beyond U+FFFF is two of them), so lengths are counted as Windows counts them.
#ifndef HALVANE_HOST_REQUEST_H
#define HALVANE_HOST_REQUEST_H

#include "host/host_message.h"

#include <string>

// A request that passed every check, ready for Halvane's command line.
struct HostRequest {
    std::wstring languageCode;  // one of Halvane's 22 codes
    std::wstring site;          // a lower-case host name
    std::wstring windowTitle;   // not empty, without CR, LF or NUL
};

// The body must be the object {"site": …, "title": …, "language": …} and nothing else.
HostError ParseRequest(const std::string& body, HostRequest* request);

// Letters, digits and hyphens in dot-separated labels of 1 to 63, 253 in all;
// lower case only (an IDN in its xn-- form), no hyphen at either end of a label.
bool IsHostName(const std::string& site);

// A well-formed BCP 47 tag gives the Halvane code of its language, "en" when
// Halvane does not speak it; anything else gives null.
const char* InterfaceCodeForTag(const std::string& tag);

// Windows' bound on a command line, its terminator included.
enum : size_t { MaxCommandLineChars = 32767 };

// The command line that starts Halvane at exePath (a full path without double
// quotes) so that its parser gives back exactly the three values. The title is
// quoted: it loses one leading and one trailing quote there, and keeps its own.
// Fails with ErrorTitleLength when the line would not fit.
HostError BuildHalvaneCommandLine(const std::wstring& exePath, const HostRequest& request,
                                  std::wstring* commandLine);

// Between UTF-8 and UTF-16 code units. Utf16FromUtf8 expects valid UTF-8;
// Utf8FromUtf16 fails on a lone surrogate.
std::wstring Utf16FromUtf8(const std::string& text);
bool Utf8FromUtf16(const std::wstring& text, std::string* out);

// The native-messaging manifest for the host at exePath (UTF-8), as Firefox reads it.
std::string HostManifest(const std::string& exePath);

#endif
