#include "shell_event_names.h"

#include <cstdio>
#include <utility>

#include "platform/shlobj.h"
#include "platform/win_user.h"

namespace nimbrel::platform::shell {

namespace {

using NamedBit = std::pair<std::uint32_t, const char*>;

void append(std::string& names, const std::string& name) {
    if (!names.empty()) names += '|';
    names += name;
}

std::string hexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// Each named bit group that is wholly present is named once; what is left follows in hex.
template <std::size_t N>
std::string namesOf(std::uint32_t value, const NamedBit (&table)[N], std::string names = {}) {
    for (const NamedBit& bit : table) {
        if (bit.first != 0 && (value & bit.first) == bit.first) {
            append(names, bit.second);
            value &= ~bit.first;
        }
    }
    if (value != 0) append(names, hexText(value));
    return names;
}

constexpr NamedBit kEvents[] = {
    {SHCNE_RENAMEITEM, "SHCNE_RENAMEITEM"},
    {SHCNE_CREATE, "SHCNE_CREATE"},
    {SHCNE_DELETE, "SHCNE_DELETE"},
    {SHCNE_MKDIR, "SHCNE_MKDIR"},
    {SHCNE_RMDIR, "SHCNE_RMDIR"},
    {SHCNE_ATTRIBUTES, "SHCNE_ATTRIBUTES"},
    {SHCNE_UPDATEDIR, "SHCNE_UPDATEDIR"},
    {SHCNE_UPDATEITEM, "SHCNE_UPDATEITEM"},
    {SHCNE_ASSOCCHANGED, "SHCNE_ASSOCCHANGED"},
};
// SHCNF_FLUSHNOWAIT contains SHCNF_FLUSH, so it is looked for first.
constexpr NamedBit kDeliveryFlags[] = {{SHCNF_FLUSHNOWAIT, "SHCNF_FLUSHNOWAIT"}, {SHCNF_FLUSH, "SHCNF_FLUSH"}};
constexpr NamedBit kTimeoutFlags[] = {{SMTO_BLOCK, "SMTO_BLOCK"},
                                      {SMTO_ABORTIFHUNG, "SMTO_ABORTIFHUNG"},
                                      {SMTO_NOTIMEOUTIFNOTHUNG, "SMTO_NOTIMEOUTIFNOTHUNG"}};

const char* itemTypeName(std::uint32_t type) {
    switch (type) {
        case SHCNF_IDLIST:
            return "SHCNF_IDLIST";
        case SHCNF_PATHA:
            return "SHCNF_PATHA";
        case SHCNF_DWORD:
            return "SHCNF_DWORD";
        case SHCNF_PATHW:
            return "SHCNF_PATHW";
        default:
            return nullptr;
    }
}

}  // namespace

std::string shellEventNames(std::uint32_t event) { return namesOf(event, kEvents); }

std::string shellFlagNames(std::uint32_t flags) {
    const char* type = itemTypeName(flags & SHCNF_TYPE);
    std::string names = type ? type : hexText(flags & SHCNF_TYPE);
    return namesOf(flags & ~SHCNF_TYPE, kDeliveryFlags, names);
}

std::string messageTimeoutFlagNames(std::uint32_t flags) {
    return flags == SMTO_NORMAL ? "SMTO_NORMAL" : namesOf(flags, kTimeoutFlags);
}

std::string windowMessageName(std::uint32_t message) {
    return message == WM_SETTINGCHANGE ? "WM_SETTINGCHANGE" : "WM_" + hexText(message);
}

}  // namespace nimbrel::platform::shell
