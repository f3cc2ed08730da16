#include "tools/cli/Reports.h"

#include "app/DefinitionCheck.h"
#include "app/PropertyEdit.h"
#include "app/Verify.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Session.h"

#include <algorithm>
#include <charconv>
#include <set>

using nlohmann::json;

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

} // namespace

int JobStatus(const CliJob& job) {
    if (job.signal != 0)
        return 128 + job.signal;
    if (job.refused != 0)
        return kCliTransaction;
    int status = kCliOk;
    for (const CliTransaction& t : job.transactions) {
        if (t.result != TRANSACTION_OK)
            return kCliTransaction;
        if (t.replyCode != kReplyCodeOk)
            status = kCliReply;
    }
    return status;
}

// The properties the replies of a job carried, in order: those of echoed commands and
// information replies, each followed by the calculators that depend on it.
std::vector<ReportedValue> CarriedProperties(const clCamPropertyMgr& m, const CliJob& job) {
    std::vector<ReportedValue> out;
    std::set<const clCamProperty*> seen;
    auto add = [&](const std::u16string& name, std::optional<std::u16string> replyText) {
        const clCamProperty* p = m.FindProperty(name);
        if (!p || !seen.insert(p).second)
            return;
        out.push_back({p, ReportedValue::kReply, std::move(replyText)});
        for (const std::u16string& d : p->dependents)
            if (const clCamProperty* c = m.FindProperty(d); c && seen.insert(c).second)
                out.push_back({c, ReportedValue::kCalculated, std::nullopt});
    };
    for (const CliTransaction& t : job.transactions)
        for (const std::u16string& line : t.replyLines) {
            const std::u16string_view text = ReplyText(line);
            bool info = false;
            for (const auto& i : m.InformationList())
                if (!i->keyword.empty() && !text.empty() && text[0] == i->keyword[0] &&
                    text.find(i->keyword) != std::u16string_view::npos) {
                    for (const std::u16string& name : i->propertyNames)
                        add(name, std::nullopt);
                    info = true;
                    break;
                }
            if (info)
                continue;
            std::u16string word, rest;
            SplitCommandWord(&m, text, word, rest);
            const clCamCommand* c = m.FindCommand(word);
            if (!c)
                continue;
            const auto texts = SlotTexts(m, *c, rest);
            for (size_t k = 0; k < c->slots.size(); ++k) {
                const clCamProperty* p = m.FindProperty(c->slots[k]);
                const bool unread =
                    p && (p->type == CamPropertyType::String || p->type == CamPropertyType::Float);
                if (unread && !texts[k])
                    continue; // the reply carries no value for it
                add(c->slots[k], unread ? texts[k] : std::nullopt);
            }
        }
    return out;
}

// The value of a reported property as text and as JSON.
std::pair<std::string, json> ReportedText(const clCamPropertyMgr& m, const ReportedValue& r) {
    json value = PropertyValueJson(m, r.property);
    if (!r.replyText)
        return {PropertyValueText(m, r.property), value};
    const std::string text = Utf8(*r.replyText);
    double number = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), number);
    if (r.property->type == CamPropertyType::Float && parsed.ec == std::errc() &&
        parsed.ptr == text.data() + text.size())
        value["value"] = number;
    else
        value["value"] = text;
    return {text, value};
}
