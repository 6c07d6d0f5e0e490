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
    // A prompt that showed and closed between two looks is told as one that
    // showed, so that what follows (a keep, a dismissal) reads as asked.
    bool showed = sample.promptShown || sample.promptShowedSince;
    if (showed && !state->promptShown)
        messages.push_back(Event("asking"));
    state->asked = state->asked || showed;
    state->promptShown = sample.promptShown;
    if (sample.promptShown || !state->asked)
        state->closedLooks = 0;
    else
        state->closedLooks = sample.promptShowedSince ? 1 : state->closedLooks + 1;
    // A window on top is Halvane's doing only once Halvane may have put it
    // there: with a stored Allow, or once its prompt has been answered. One
    // on top before Halvane started stays so after Cancel too, so then only
    // a Halvane that goes on running once its prompt closed is keeping it.
    bool answered = state->closedLooks >= (state->topmostBefore ? uint32_t(ClosedLooksForOldTopmost) : 1u);
    bool mayKeep = state->allowedBefore || answered;
    if (!sample.promptShown && sample.windowTopmost && mayKeep && !state->kept) {
        messages.push_back(Event("kept"));
        state->kept = true;
    }
    return messages;
}

// A Halvane that asked and ended without a Deny was dismissed, unless an Allow
// was stored: "Always" for a window that was gone by then is no keep, and no
// dismissal either. One that neither asked nor kept, for a site without a
// decision, found the single-instance mutex taken and ended at once, or could
// show no prompt.
const char* EndOutcome(const WatchState& state, uint32_t exitCode, StoredDecision decision, bool otherRuns,
                       bool withdrawn)
{
    if (withdrawn)
        return "withdrawn";
    if (exitCode != 0)
        return "error";
    if (state.kept)
        return "released";
    // Policy decided, whatever the user's own decision: Halvane neither asked nor stored.
    if (state.policyDeclines)
        return "declined";
    if (state.policyKeeps)
        return otherRuns ? "busy" : "not-found";
    if (decision == StoredDeny || decision == StoredOther)
        return "declined";
    if (decision == StoredAllow)
        return state.asked || !otherRuns ? "not-found" : "busy";
    if (state.asked)
        return "dismissed";
    return otherRuns ? "busy" : "no-prompt";
}

bool IsWithdrawal(const std::string& body)
{
    rapidjson::Document json;
    json.Parse<HostParseFlags>(body.data(), body.size());
    if (json.HasParseError() || !json.IsObject() || json.MemberCount() != 1)
        return false;
    auto member = json.MemberBegin();
    return member->name == "withdraw" && member->value.IsTrue();
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

std::string EndedEvent(const char* outcome, uint32_t exitCode, bool asked)
{
    return Event("ended", [&](JsonWriter& writer) {
        writer.Key("outcome");
        writer.String(outcome);
        writer.Key("exitCode");
        writer.Int(static_cast<int32_t>(exitCode));
        writer.Key("asked");
        writer.Bool(asked);
    });
}

std::string PolicyEvent()
{
    return Event("policy");
}
