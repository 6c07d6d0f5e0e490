// Debian's RapidJSON, as the host uses it: a DOM parsed without recursion (a
// deeply nested body cannot exhaust the stack) and checked for UTF-8, and the
// writers for replies and the manifest. Header-only, and it needs neither
// exceptions nor the compiled part of the C++ library. Include it only through here.
#ifndef HALVANE_HOST_JSON_H
#define HALVANE_HOST_JSON_H

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

enum : unsigned { HostParseFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag };

#endif
