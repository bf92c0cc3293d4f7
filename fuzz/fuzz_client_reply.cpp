// The envelope the main client answers Nimbrel's requests with, as any client could send it.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>

#include "fuzz_env.h"
#include "ipc/client_reply.h"
#include "ipc/ipc_text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ClientReply reply;
    if (!parseClientReply(wideFromUtf8(nimbrel::fuzz::text(data, size)), reply)) return 0;
    // The payload is handed on to the requests' own readers: it must be a whole document.
    if (!reply.var.IsNull() && !reply.var.IsObject()) std::abort();
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    reply.var.Accept(writer);
    return 0;
}
