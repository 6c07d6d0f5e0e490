// The host's road from the bytes on its standard input to Halvane's command
// line: the reader, the request's checks and the line built from them. A
// request that passes must come back out of Halvane's own parser exactly and
// within Windows' bound, and every outcome must give a reply that parses.
#include "app/command_line.h"
#include "fuzz_support.h"
#include "host/host_message.h"
#include "host/host_request.h"
#include "host/json.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
};

// A few bytes at a time, as a pipe may hand them out.
size_t ReadChunk(void* context, char* buffer, size_t size)
{
    Input* input = static_cast<Input*>(context);
    size_t count = std::min({size, size_t(3), input->size - input->at});
    std::memcpy(buffer, input->data + input->at, count);
    input->at += count;
    return count;
}

const std::wstring kExe = L"C:\\Program Files\\Halvane\\halvane.exe";

void CheckRoundTrip(const HostRequest& request, const std::wstring& line)
{
    FUZZ_CHECK(line.size() < MaxCommandLineChars);
    // The C runtime hands halvane.exe what follows the quoted path and its space.
    const std::wstring prefix = L"\"" + kExe + L"\" ";
    FUZZ_CHECK(line.compare(0, prefix.size(), prefix) == 0);
    std::vector<wchar_t> tail(line.begin() + prefix.size(), line.end());
    tail.push_back(L'\0');
    LaunchValues values{};
    FUZZ_CHECK(ParseCommandLine(tail.data(), &values) == 1);
    FUZZ_CHECK(request.languageCode == values.languageCode);
    FUZZ_CHECK(request.site == values.site);
    FUZZ_CHECK(request.windowTitle == values.windowTitle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input{data, size, 0};
    std::string body;
    HostError error = ReadMessage(ReadChunk, &input, &body);
    FUZZ_CHECK(error != HostOk || (input.at == 4 + body.size() && body.size() <= MaxMessageBytes));
    FUZZ_CHECK(error != HostOk || IsUtf8(body));

    HostRequest request;
    if (error == HostOk)
        error = ParseRequest(body, &request);
    if (error == HostOk) {
        std::string site;
        FUZZ_CHECK(Utf8FromUtf16(request.site, &site) && IsHostName(site));
        FUZZ_CHECK(!request.windowTitle.empty());
        FUZZ_CHECK(request.windowTitle.find_first_of(std::wstring(L"\r\n\0", 3)) == std::wstring::npos);
        std::wstring line;
        error = BuildHalvaneCommandLine(kExe, request, &line);
        if (error == HostOk)
            CheckRoundTrip(request, line);
    }

    std::string reply = error == HostOk ? SuccessReply(1234) : ErrorReply(error);
    rapidjson::Document parsed;
    parsed.Parse(reply.c_str());
    FUZZ_CHECK(parsed.IsObject() && parsed["ok"].IsBool() && parsed["ok"].GetBool() == (error == HostOk));
    return 0;
}
