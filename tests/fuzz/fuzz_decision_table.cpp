// Random sequences of table operations on a handful of domains (case variants
// and non-ASCII look-alikes among them), checked against a plain std::vector
// model of the slots: the slots after every step, the look-up of every domain
// at the end. (Every prefix of an input is an input too, so each table state
// the fuzzer reaches still has its look-ups checked somewhere.)
#include "decisions/decision_table.h"
#include "text/text.h"
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t* const Domains[] = {
    L"alpha", L"ALPHA",    L"Alpha",    L"alphA.example", L"alpha.example", L"beta", L"",
    L"a",     L"\u00C4bc", L"\u00E4bc", L"\u00C4BC",      L"\u212Abc",      L"kbc",  L"zeta.Z",
    L"ZETA.z", L"@[",      L"`{",
};
const size_t DomainCount = sizeof Domains / sizeof Domains[0];

struct ModelSlot {
    SiteDecision* entry = nullptr;  // null: empty slot
    std::wstring domain;
    int32_t decision = 0;
};
using Model = std::vector<ModelSlot>;

// The domains as the table keeps them, lowered once and not at every look-up.
const std::wstring& Lowered(size_t domain)
{
    static const std::vector<std::wstring> lowered = [] {
        std::vector<std::wstring> all;
        for (const wchar_t* domain : Domains)
            all.push_back(Lower(domain));
        return all;
    }();
    return lowered[domain];
}

ModelSlot* ModelFirstMatch(Model& model, size_t domain)
{
    for (ModelSlot& slot : model)
        if (slot.entry && slot.domain == Lowered(domain))
            return &slot;
    return nullptr;
}

void CheckSlots(const Model& model)
{
    FUZZ_CHECK(SiteDecisions.slotCount == model.size());
    for (size_t i = 0; i < model.size(); ++i) {
        FUZZ_CHECK(SiteDecisions.slots[i] == model[i].entry);
        if (model[i].entry) {
            FUZZ_CHECK(model[i].domain == model[i].entry->domain);
            FUZZ_CHECK(model[i].decision == model[i].entry->decision);
        }
    }
}

void CheckFind(Model& model, size_t domain)
{
    ModelSlot* match = ModelFirstMatch(model, domain);
    FUZZ_CHECK(FindDecision(Domains[domain]) == (match ? match->decision : NoDecision));
}

void Add(FuzzedDataProvider& input, Model& model, size_t domain)
{
    int32_t decision = input.ConsumeIntegralInRange<int32_t>(-2, 5);
    wchar_t* text = DuplicateText(Domains[domain], static_cast<uint32_t>(std::wcslen(Domains[domain])));
    SiteDecision* entry = AddDecision(text, decision);
    FUZZ_CHECK(entry->domain == text);  // the table keeps the caller's string, lowered in place
    FUZZ_CHECK(Lowered(domain) == text);

    ModelSlot added{entry, Lowered(domain), decision};
    for (ModelSlot& slot : model) {
        if (!slot.entry) {
            slot = added;
            return;
        }
    }
    model.push_back(added);
}

void Update(FuzzedDataProvider& input, Model& model, size_t domain)
{
    int32_t decision = input.ConsumeIntegralInRange<int32_t>(-2, 5);
    std::wstring text = Domains[domain];
    SiteDecision* updated = UpdateDecision(text.data(), decision);
    FUZZ_CHECK(text == Lowered(domain));
    ModelSlot* match = ModelFirstMatch(model, domain);
    if (match)
        match->decision = decision;
    FUZZ_CHECK(updated == (match ? match->entry : nullptr));
}

// A slot of the table, or (one past the end) an entry that is not in it.
void Remove(FuzzedDataProvider& input, Model& model, size_t domain)
{
    size_t index = input.ConsumeIntegralInRange<size_t>(0, model.size());
    if (index == model.size()) {
        std::wstring text = Domains[domain];
        SiteDecision stranger = {text.data(), DecisionAllow};
        RemoveDecision(&stranger);
    } else if (model[index].entry) {
        RemoveDecision(model[index].entry);
        model[index] = ModelSlot{};
    }
}

void Rename(FuzzedDataProvider& input, Model& model, size_t domain)
{
    if (model.empty())
        return;
    size_t index = input.ConsumeIntegralInRange<size_t>(0, model.size() - 1);
    if (!model[index].entry)
        return;
    size_t length = input.ConsumeIntegralInRange<size_t>(0, std::wcslen(Domains[domain]));
    RenameDecision(model[index].entry, Domains[domain], static_cast<uint32_t>(length));
    model[index].domain = Lower(std::wstring(Domains[domain], length));
}

void Step(FuzzedDataProvider& input, Model& model)
{
    size_t domain = input.ConsumeIntegralInRange<size_t>(0, DomainCount - 1);
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: Add(input, model, domain); break;
    case 1: Update(input, model, domain); break;
    case 2: Remove(input, model, domain); break;
    case 3: Rename(input, model, domain); break;
    case 4: CheckFind(model, domain); break;
    }
    CheckSlots(model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    Model model;
    ClearDecisionTable();
    for (int step = 0; step < 256 && input.remaining_bytes() > 0; ++step)
        Step(input, model);
    for (size_t domain = 0; domain < DomainCount; ++domain)
        CheckFind(model, domain);
    ClearDecisionTable();
    return 0;
}
