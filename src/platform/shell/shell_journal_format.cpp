#include "shell_journal_format.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace nimbrel::platform::shell {

namespace {

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::uint32_t fromHex(const char* text) { return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 16)); }

std::string processName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string member(const rapidjson::Value& object, const char* name) {
    auto found = object.FindMember(name);
    return found != object.MemberEnd() && found->value.IsString() ? found->value.GetString() : std::string();
}

}  // namespace

ShellJournalRecord newJournalRecord(const char* call) {
    ShellJournalRecord record;
    record.timeMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    record.pid = static_cast<long>(::getpid());
    static const std::string name = processName();
    record.process = name;
    record.call = call;
    return record;
}

std::string formatJournalRecord(const ShellJournalRecord& record) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("timeMs");
    writer.Int64(record.timeMs);
    writer.Key("pid");
    writer.Int64(record.pid);
    writer.Key("process");
    writer.String(record.process.c_str());
    writer.Key("call");
    writer.String(record.call.c_str());
    writer.Key("event");
    writer.String(hex(record.event).c_str());
    writer.Key("eventNames");
    writer.String(record.eventNames.c_str());
    writer.Key("flags");
    writer.String(hex(record.flags).c_str());
    writer.Key("flagNames");
    writer.String(record.flagNames.c_str());
    if (!record.text.empty()) {
        writer.Key("text");
        writer.String(record.text.c_str());
    }
    writer.Key("paths");
    writer.StartArray();
    for (const ShellJournalPath& path : record.paths) {
        writer.StartObject();
        writer.Key("windows");
        writer.String(path.windows.c_str());
        writer.Key("host");
        writer.String(path.host.c_str());
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    return buffer.GetString();
}

bool parseJournalRecord(const std::string& line, ShellJournalRecord& record) {
    rapidjson::Document document;
    if (document.Parse(line.c_str()).HasParseError() || !document.IsObject()) return false;
    auto time = document.FindMember("timeMs");
    auto pid = document.FindMember("pid");
    if (time == document.MemberEnd() || !time->value.IsInt64() || pid == document.MemberEnd() ||
        !pid->value.IsInt64()) {
        return false;
    }
    record = ShellJournalRecord{};
    record.timeMs = time->value.GetInt64();
    record.pid = static_cast<long>(pid->value.GetInt64());
    record.process = member(document, "process");
    record.call = member(document, "call");
    record.event = fromHex(member(document, "event").c_str());
    record.eventNames = member(document, "eventNames");
    record.flags = fromHex(member(document, "flags").c_str());
    record.flagNames = member(document, "flagNames");
    record.text = member(document, "text");
    auto paths = document.FindMember("paths");
    if (paths != document.MemberEnd() && paths->value.IsArray()) {
        for (const auto& path : paths->value.GetArray()) {
            if (path.IsObject()) record.paths.push_back({member(path, "windows"), member(path, "host")});
        }
    }
    record.json = line;
    return true;
}

}  // namespace nimbrel::platform::shell
