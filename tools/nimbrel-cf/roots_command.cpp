#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>

#include "cf_connection.h"
#include "cf_store.h"
#include "commands.h"
#include "platform/platform_paths.h"

namespace nimbrel::tools::cf {

int rootsCommand() {
    namespace pcf = nimbrel::platform::cf;
    auto store = pcf::CfStore::current();
    if (!store) {
        std::fprintf(stderr, "nimbrel-cf: cannot open the cloud-files store\n");
        return 1;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartArray();
    for (const auto& root : store->roots()) {
        w.StartObject();
        w.Key("path");
        w.String(root.path.c_str());
        w.Key("providerName");
        w.String(nimbrel::platform::toUtf8(root.providerName).c_str());
        w.Key("providerVersion");
        w.String(nimbrel::platform::toUtf8(root.providerVersion).c_str());
        w.Key("hydrationPolicy");
        w.Uint(root.hydration.Primary);
        w.Key("populationPolicy");
        w.Uint(root.population.Primary);
        w.Key("inSyncPolicy");
        w.Uint(root.inSync);
        w.Key("connected");
        w.Bool(pcf::isRootConnected(root.path));
        w.Key("port");
        w.String(pcf::portSocketPath(root.path).c_str());
        w.EndObject();
    }
    w.EndArray();
    std::printf("%s\n", buffer.GetString());
    return 0;
}

}  // namespace nimbrel::tools::cf
