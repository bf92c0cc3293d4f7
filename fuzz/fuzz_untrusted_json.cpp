// Any text at all through the parser of untrusted JSON; whatever it accepts must be safe to walk
// (serialising recurses once per level) and must come out as JSON it accepts again.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>

#include "fuzz_env.h"
#include "ipc/untrusted_json.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rapidjson::Document document;
    if (parseUntrustedJson(document, reinterpret_cast<const char*>(data), size).IsError()) return 0;
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    if (!document.Accept(writer)) std::abort();
    rapidjson::Document again;
    if (parseUntrustedJson(again, buffer.GetString(), buffer.GetSize()).IsError()) std::abort();
    return 0;
}
