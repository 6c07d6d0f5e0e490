#include "host/host_watch.h"

#include "host/json.h"

namespace {

typedef rapidjson::Writer<rapidjson::StringBuffer> JsonWriter;

// {"event":NAME, then what addFields writes}
template <typename Fields>
std::string Event(const char* name, Fields addFields)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("event");
    writer.String(name);
    addFields(writer);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string Event(const char* name)
{
    return Event(name, [](JsonWriter&) {});
}

}  // namespace

std::vector<std::string> WatchStep(WatchState* state, const WatchSample& sample)
{
    std::vector<std::string> messages;
    if (sample.promptShown && !state->promptShown)
        messages.push_back(Event("asking"));
    // Halvane keeps a window only once its own windows are gone: while one
    // shows, a window on top is not its doing.
    if (!sample.promptShown && sample.windowTopmost && !state->kept) {
        messages.push_back(Event("kept"));
        state->kept = true;
    }
    state->asked = state->asked || sample.promptShown;
    state->promptShown = sample.promptShown;
    return messages;
}

// A Halvane that asked and ended without a Deny was dismissed, even when an
// Allow was stored: "Always" for a window that was gone by then is no keep.
// One that neither asked nor kept, for a site without a decision, found the
// single-instance mutex taken and ended at once.
const char* EndOutcome(const WatchState& state, uint32_t exitCode, StoredDecision decision, bool otherRuns)
{
    if (exitCode != 0)
        return "error";
    if (state.kept)
        return "released";
    if (decision == StoredDeny)
        return "declined";
    if (state.asked)
        return "dismissed";
    if (otherRuns)
        return "busy";
    if (decision == StoredAllow)
        return "not-found";
    return "dismissed";
}

std::string ErrorEvent(HostError error, const std::string& detail)
{
    std::string message = HostErrorMessage(error);
    if (!detail.empty())
        message += " (" + detail + ")";
    return Event("error", [&](JsonWriter& writer) {
        writer.Key("error");
        writer.String(HostErrorCode(error));
        writer.Key("message");
        writer.String(message.data(), static_cast<rapidjson::SizeType>(message.size()));
    });
}

std::string BusyEvent()
{
    return Event("busy");
}

std::string StartedEvent(uint32_t processId)
{
    return Event("started", [&](JsonWriter& writer) {
        writer.Key("pid");
        writer.Uint(processId);
    });
}

std::string EndedEvent(const char* outcome, uint32_t exitCode)
{
    return Event("ended", [&](JsonWriter& writer) {
        writer.Key("outcome");
        writer.String(outcome);
        writer.Key("exitCode");
        writer.Int(static_cast<int32_t>(exitCode));
    });
}
