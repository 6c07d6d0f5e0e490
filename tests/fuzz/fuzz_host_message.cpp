// The host's road from the bytes on its standard input to Halvane's command
// line, and on to the messages it sends while it watches Halvane. A request that
// passes must come back out of Halvane's own parser exactly and within Windows'
// bound, and every outcome must give a message that parses. The bytes after the
// request are looks at Halvane and its end: each change must be told once, and
// the end must agree with what was seen.
#include "app/command_line.h"
#include "fuzz_support.h"
#include "host/host_message.h"
#include "host/host_request.h"
#include "host/host_watch.h"
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

std::string EventOf(const std::string& message)
{
    rapidjson::Document parsed;
    parsed.Parse(message.c_str());
    FUZZ_CHECK(parsed.IsObject() && parsed["event"].IsString());
    return parsed["event"].GetString();
}

// The first byte says what stood before Halvane started: bit 0 a stored Allow,
// bit 1 the window on top. Each byte after it but the last is a look: bit 0 a
// window of Halvane's shown, bit 1 the browser window topmost, bit 2 a window
// of Halvane's showed since the look before. The last gives
// the stored decision, the exit code, another Halvane and a withdrawal.
void CheckWatch(const uint8_t* looks, size_t count)
{
    if (count < 2)
        return;
    WatchState state;
    state.allowedBefore = (looks[0] & 1) != 0;
    state.topmostBefore = (looks[0] & 2) != 0;
    bool shown = false, asked = false, kept = false;
    uint32_t closed = 0;
    for (size_t i = 1; i + 1 < count; ++i) {
        WatchSample sample = {(looks[i] & 1) != 0, (looks[i] & 2) != 0, (looks[i] & 4) != 0};
        std::string sent;
        for (const std::string& message : WatchStep(&state, sample))
            sent += message;
        bool showed = sample.promptShown || sample.promptShowedSince;
        bool askingDue = showed && !shown;
        asked = asked || showed;
        closed = sample.promptShown || !asked ? 0 : sample.promptShowedSince ? 1 : closed + 1;
        bool answered = closed >= (state.topmostBefore ? 3u : 1u);
        bool keptDue = !sample.promptShown && sample.windowTopmost && !kept && (state.allowedBefore || answered);
        const char* asking = askingDue ? "{\"event\":\"asking\"}" : "";
        FUZZ_CHECK(sent == std::string(asking) + (keptDue ? "{\"event\":\"kept\"}" : ""));
        FUZZ_CHECK(!keptDue || state.allowedBefore || asked);
        shown = sample.promptShown;
        kept = kept || keptDue;
    }
    uint8_t end = looks[count - 1];
    StoredDecision decision = static_cast<StoredDecision>(end % 4);
    uint32_t exitCode = end & 4 ? 0xFFFFFFFEu : 0;
    bool otherRuns = (end & 8) != 0, withdrawn = (end & 16) != 0;
    std::string outcome = EndOutcome(state, exitCode, decision, otherRuns, withdrawn);
    FUZZ_CHECK((outcome == "withdrawn") == withdrawn);
    FUZZ_CHECK(withdrawn || (outcome == "error") == (exitCode != 0));
    FUZZ_CHECK(outcome == "error" || withdrawn || (outcome == "released") == kept);
    FUZZ_CHECK(outcome != "declined" || decision == StoredDeny || decision == StoredOther);
    FUZZ_CHECK(outcome != "dismissed" || (asked && decision == StoredNone));
    FUZZ_CHECK(outcome != "no-prompt" || (!asked && decision == StoredNone && !otherRuns));
    FUZZ_CHECK(outcome != "not-found" || decision == StoredAllow);
    FUZZ_CHECK(outcome != "busy" || (otherRuns && !asked && !kept));
    rapidjson::Document ended;
    ended.Parse(EndedEvent(outcome.c_str(), exitCode, asked).c_str());
    FUZZ_CHECK(ended["outcome"].GetString() == outcome && ended["exitCode"].GetInt() == int32_t(exitCode) &&
               ended["asked"].GetBool() == asked);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input{data, size, 0};
    std::string body;
    HostError error = ReadMessage(ReadChunk, &input, &body);
    FUZZ_CHECK(error != HostOk || (input.at == 4 + body.size() && body.size() <= MaxMessageBytes));
    FUZZ_CHECK(error != HostOk || IsUtf8(body));

    // A withdrawal is never a request, and a request never a withdrawal.
    HostRequest request;
    bool withdrawal = error == HostOk && IsWithdrawal(body);
    if (error == HostOk)
        error = ParseRequest(body, &request);
    FUZZ_CHECK(!withdrawal || error != HostOk);
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

    const char* event = error == HostOk ? "started" : "error";
    FUZZ_CHECK(EventOf(error == HostOk ? StartedEvent(1234) : ErrorEvent(error)) == event);
    if (error == HostOk)
        CheckWatch(data + input.at, size - input.at);
    return 0;
}
