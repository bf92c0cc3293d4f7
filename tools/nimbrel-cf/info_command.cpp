#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cf_item.h"
#include "commands.h"
#include "platform/file_filter_hooks.h"
#include "platform/platform_paths.h"
#include "platform/win32_file_support.h"
#include "platform/windows.h"

namespace nimbrel::tools::cf {

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;
namespace pcf = nimbrel::platform::cf;

const char* pinName(CF_PIN_STATE pin) {
    switch (pin) {
        case CF_PIN_STATE_PINNED:
            return "pinned";
        case CF_PIN_STATE_UNPINNED:
            return "unpinned";
        case CF_PIN_STATE_EXCLUDED:
            return "excluded";
        case CF_PIN_STATE_INHERIT:
            return "inherit";
        default:
            return "unspecified";
    }
}

// Identities are UTF-16 text with a terminating NUL in Nimbrel; other blobs show as hex.
std::string identityText(const std::string& identity) {
    if (identity.size() % 2 == 0) {
        std::u16string text(identity.size() / 2, u'\0');
        std::memcpy(text.data(), identity.data(), identity.size());
        auto nul = text.find(u'\0');
        if (nul != std::u16string::npos) text.resize(nul);
        return nimbrel::platform::toUtf8(text);
    }
    std::string hex;
    char byte[3];
    for (unsigned char c : identity) {
        std::snprintf(byte, sizeof(byte), "%02x", c);
        hex += byte;
    }
    return hex;
}

void attributeNames(Writer& w, DWORD attributes) {
    static const std::pair<DWORD, const char*> kNames[] = {
        {FILE_ATTRIBUTE_READONLY, "READONLY"},       {FILE_ATTRIBUTE_HIDDEN, "HIDDEN"},
        {FILE_ATTRIBUTE_SYSTEM, "SYSTEM"},           {FILE_ATTRIBUTE_DIRECTORY, "DIRECTORY"},
        {FILE_ATTRIBUTE_ARCHIVE, "ARCHIVE"},         {FILE_ATTRIBUTE_NORMAL, "NORMAL"},
        {FILE_ATTRIBUTE_SPARSE_FILE, "SPARSE_FILE"}, {FILE_ATTRIBUTE_REPARSE_POINT, "REPARSE_POINT"},
        {FILE_ATTRIBUTE_OFFLINE, "OFFLINE"},         {FILE_ATTRIBUTE_PINNED, "PINNED"},
        {FILE_ATTRIBUTE_UNPINNED, "UNPINNED"},       {FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS, "RECALL_ON_DATA_ACCESS"},
    };
    w.StartArray();
    for (const auto& [bit, name] : kNames) {
        if (attributes & bit) w.String(name);
    }
    w.EndArray();
}

// False when the item does not exist.
bool describe(Writer& w, pcf::CfStore& store, const std::string& argument) {
    const std::string hostPath = nimbrel::platform::toHostPath(argument);
    w.StartObject();
    w.Key("path");
    w.String(argument.c_str());
    auto item = pcf::resolveItem(store, hostPath);
    w.Key("exists");
    w.Bool(item.has_value());
    if (!item) {
        w.EndObject();
        return false;
    }
    DWORD tag = 0;
    const DWORD attributes = nimbrel::platform::combinedAttributes(item->st, item->path, -1, &tag);
    const std::int64_t size = item->isDirectory() ? 0 : item->st.st_size;
    const std::int64_t allocated = nimbrel::platform::dataAllocationBytes(item->access, -1, item->st);
    w.Key("directory");
    w.Bool(item->isDirectory());
    w.Key("underSyncRoot");
    w.Bool(item->root != nullptr);
    if (item->root) {
        w.Key("syncRoot");
        w.String(item->root->path.c_str());
    }
    w.Key("placeholder");
    w.Bool(item->isPlaceholder());
    if (item->record) {
        const auto& record = *item->record;
        w.Key("identity");
        w.String(identityText(record.identity).c_str());
        w.Key("identityLength");
        w.Uint(static_cast<unsigned>(record.identity.size()));
        w.Key("pinState");
        w.String(pinName(record.pin));
        w.Key("inSync");
        w.Bool(record.inSync == CF_IN_SYNC_STATE_IN_SYNC);
        w.Key("hydrated");
        w.Bool(record.hydrated);
        w.Key("partial");
        w.Bool(!record.hydrated && allocated > 0);
        w.Key("creationTime");
        w.Int64(record.creationTime);
    }
    w.Key("attributes");
    w.Uint(attributes);
    w.Key("attributeNames");
    attributeNames(w, attributes);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        w.Key("reparseTag");
        w.Uint(tag);
    }
    w.Key("size");
    w.Int64(size);
    w.Key("allocated");
    w.Int64(allocated);
    w.EndObject();
    return true;
}

}  // namespace

int infoCommand(const std::vector<std::string>& paths) {
    auto store = pcf::CfStore::current();
    if (!store) {
        std::fprintf(stderr, "nimbrel-cf: cannot open the cloud-files store\n");
        return 1;
    }
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartArray();
    std::vector<std::string> missing;
    for (const auto& path : paths) {
        if (!describe(w, *store, path)) missing.push_back(path);
    }
    w.EndArray();
    std::printf("%s\n", buffer.GetString());
    for (const auto& path : missing) std::fprintf(stderr, "nimbrel-cf: %s: no such file or folder\n", path.c_str());
    return missing.empty() ? 0 : 1;
}

}  // namespace nimbrel::tools::cf
