#include "menu_view.h"

#include <rapidjson/document.h>

#include "ipc/untrusted_json.h"

namespace {

std::string member(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return std::string();
    auto found = object.FindMember(name);
    if (found == object.MemberEnd() || !found->value.IsString()) return std::string();
    return std::string(found->value.GetString(), found->value.GetStringLength());
}

// The reason a refusal gives, or the whole reply when it is not an envelope.
std::string refusal(const rapidjson::Document& document, const std::string& reply) {
    const std::string summary = member(document, "summary");
    return summary.empty() ? reply : summary + " (errorCode " + member(document, "errorCode") + ")";
}

bool parseEnvelope(const std::string& reply, rapidjson::Document& document) {
    return !parseUntrustedJson(document, reply.c_str(), reply.size()).IsError() && document.IsObject() &&
           member(document, "code") == "S_OK";
}

}  // namespace

std::string menuView(const std::string& reply, bool& shown) {
    rapidjson::Document document;
    shown = parseEnvelope(reply, document);
    if (!shown) return "no entries: " + refusal(document, reply) + "\n";
    auto var = document.FindMember("var");
    if (var == document.MemberEnd() || !var->value.IsObject()) {
        shown = false;
        return "no entries: the reply carries no menu\n";
    }
    std::string text = member(var->value, "contextMenuTitle") + "\n";
    auto items = var->value.FindMember("menuItems");
    if (items == var->value.MemberEnd() || !items->value.IsArray()) return text;
    for (const auto& item : items->value.GetArray()) {
        const bool active = member(item, "bShow") == "1";
        text += std::string(active ? "  active  " : "  greyed  ") + member(item, "title") + "  (" +
                member(item, "menuCommand") + ")\n";
    }
    return text;
}

std::string runView(const std::string& reply, const std::string& command, std::size_t itemCount, bool& accepted) {
    rapidjson::Document document;
    accepted = parseEnvelope(reply, document);
    if (!accepted) return "refused: " + refusal(document, reply) + "\n";
    return command + " accepted for " + std::to_string(itemCount) + (itemCount == 1 ? " item\n" : " items\n");
}
