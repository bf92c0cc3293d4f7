// Request texts as the IPC module hands them to CServiceIpcManager::OnRequest: a command, CR LF
// and a body. The commands that touch no file are fuzzed whole; the projecting ones ("pushFileSystem",
// "pushFileAdd", "pushFileStatus") are fuzzed whole once every path of their records has been moved
// below this run's own folder; any other command name is turned into an unknown one, so the
// dispatch still sees arbitrary names while no input can mount, project into, move or end anything
// on the machine that runs the fuzzer.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QString>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "fuzz_client_process.h"
#include "fuzz_env.h"
#include "ipc/ipc_text.h"
#include "ipc/service_ipc_manager.h"
#include "ipc/untrusted_json.h"

namespace {

std::string projectionFolder() { return std::string(std::getenv("TMPDIR")) + "/projection"; }

// Puts the record's "filePath" below the projection folder; false when a path or name could climb
// out of it.
bool confine(rapidjson::Value& record, rapidjson::Document::AllocatorType& allocator) {
    if (!record.IsObject()) return true;
    for (auto& member : record.GetObject()) {
        const std::string name(member.name.GetString(), member.name.GetStringLength());
        if ((name != "filePath" && name != "fileName") || !member.value.IsString()) continue;
        const std::string text(member.value.GetString(), member.value.GetStringLength());
        if (text.find("..") != std::string::npos) return false;
        if (name == "fileName") continue;
        const std::string confined = projectionFolder() + "/" + text;
        member.value.SetString(confined.c_str(), static_cast<rapidjson::SizeType>(confined.size()), allocator);
    }
    return true;
}

// The body with its paths confined, or false when it cannot be. A body that does not parse is
// passed on as it is: the handler refuses it before it reads any path.
bool confineBody(std::wstring& body) {
    rapidjson::Document document;
    const std::string text = utf8FromWide(body);
    if (parseUntrustedJson(document, text.c_str(), text.size()).IsError()) return true;
    auto& allocator = document.GetAllocator();
    if (document.IsObject() && document.HasMember("fileInfo") && document["fileInfo"].IsArray()) {
        for (auto& record : document["fileInfo"].GetArray()) {
            if (!confine(record, allocator)) return false;
        }
    }
    if (!confine(document, allocator)) return false;
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    body = wideFromUtf8(std::string(buffer.GetString(), buffer.GetSize()));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
    becomeOwnMainClient(*argv);
    std::filesystem::create_directory(projectionFolder());
    CServiceIpcManager::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::set<std::wstring> kWithoutFiles = {
        L"newChannel",  L"getMessage",         L"getDiskinfo",         L"checkOnline",
        L"cancelTasks", L"getFileHistoryList", L"ziduZuduReloadProxy", L"ziduZuduSendConfig"};
    static const std::set<std::wstring> kProjecting = {L"pushFileSystem", L"pushFileAdd", L"pushFileStatus"};
    std::wstring text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size)).toStdWString();
    const std::size_t lineBreak = text.find(L"\r\n");
    if (lineBreak != 0 && lineBreak != std::wstring::npos && !kWithoutFiles.count(text.substr(0, lineBreak))) {
        const std::wstring command = text.substr(0, lineBreak);
        std::wstring body = text.substr(lineBreak + 2);
        if (kProjecting.count(command) && confineBody(body)) {
            text = command + L"\r\n" + body;
        } else {
            text.insert(0, L"unknown-");
        }
    }
    CServiceIpcManager::instance().OnRequest("fuzz", text);
    return 0;
}
