// Random sequences of table operations on a handful of domains (case variants
// and non-ASCII look-alikes among them), checked after every step against a
// plain std::vector model of the slots.
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

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c + 32);
    return text;
}

int32_t ModelFind(const std::vector<ModelSlot>& model, const std::wstring& site)
{
    std::wstring lowered = Lower(site);
    for (const ModelSlot& slot : model)
        if (slot.entry && slot.domain == lowered)
            return slot.decision;
    return NoDecision;
}

void CheckTable(const std::vector<ModelSlot>& model)
{
    FUZZ_CHECK(SiteDecisions.slotCount == model.size());
    for (size_t i = 0; i < model.size(); ++i) {
        FUZZ_CHECK(SiteDecisions.slots[i] == model[i].entry);
        if (model[i].entry) {
            FUZZ_CHECK(model[i].domain == model[i].entry->domain);
            FUZZ_CHECK(model[i].decision == model[i].entry->decision);
        }
    }
    for (const wchar_t* domain : Domains)
        FUZZ_CHECK(FindDecision(domain) == ModelFind(model, domain));
}

SiteDecision* AddToBoth(const wchar_t* domain, std::vector<ModelSlot>* model, int32_t decision)
{
    wchar_t* text = DuplicateText(domain, static_cast<uint32_t>(std::wcslen(domain)));
    SiteDecision* entry = AddDecision(text, decision);
    FUZZ_CHECK(entry->domain == text);  // the table keeps the caller's string, lower-cased in place
    FUZZ_CHECK(Lower(domain) == text);

    ModelSlot added{entry, Lower(domain), decision};
    for (ModelSlot& slot : *model) {
        if (!slot.entry) {
            slot = added;
            return entry;
        }
    }
    model->push_back(added);
    return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    std::vector<ModelSlot> model;
    ClearDecisionTable();

    for (int step = 0; step < 256 && input.remaining_bytes() > 0; ++step) {
        uint32_t slotsBefore = SiteDecisions.slotCount;
        const wchar_t* domain = Domains[input.ConsumeIntegralInRange<size_t>(0, DomainCount - 1)];
        switch (input.ConsumeIntegralInRange(0, 4)) {
        case 0: {
            AddToBoth(domain, &model, input.ConsumeIntegralInRange<int32_t>(-2, 5));
            break;
        }
        case 1: {
            int32_t decision = input.ConsumeIntegralInRange<int32_t>(-2, 5);
            std::wstring text = domain;
            SiteDecision* updated = UpdateDecision(text.data(), decision);
            FUZZ_CHECK(text == Lower(domain));
            SiteDecision* expected = nullptr;
            for (ModelSlot& slot : model) {
                if (slot.entry && slot.domain == Lower(domain)) {
                    slot.decision = decision;
                    expected = slot.entry;
                    break;
                }
            }
            FUZZ_CHECK(updated == expected);
            break;
        }
        case 2: {
            // A slot of the table, or (one past the end) an entry that is not in it.
            size_t index = input.ConsumeIntegralInRange<size_t>(0, model.size());
            if (index == model.size()) {
                std::wstring text = domain;
                SiteDecision stranger = {text.data(), DecisionAllow};
                RemoveDecision(&stranger);
            } else if (model[index].entry) {
                RemoveDecision(model[index].entry);
                model[index] = ModelSlot{};
            }
            break;
        }
        case 3: {
            if (model.empty())
                break;
            size_t index = input.ConsumeIntegralInRange<size_t>(0, model.size() - 1);
            if (!model[index].entry)
                break;
            size_t length = input.ConsumeIntegralInRange<size_t>(0, std::wcslen(domain));
            RenameDecision(model[index].entry, domain, static_cast<uint32_t>(length));
            model[index].domain = Lower(std::wstring(domain, length));
            break;
        }
        case 4:
            FUZZ_CHECK(FindDecision(domain) == ModelFind(model, domain));
            break;
        }
        FUZZ_CHECK(SiteDecisions.slotCount >= slotsBefore);
        CheckTable(model);
    }

    ClearDecisionTable();
    return 0;
}
