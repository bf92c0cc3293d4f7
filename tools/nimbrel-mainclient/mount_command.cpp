#include "mount_command.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QFileInfo>
#include <QString>

std::string mountBody(const std::string& path, const ClientOptions& options) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("mountPath");
    writer.String(path.c_str());
    if (options.withRuntimeState) {
        writer.Key("syncRuntimeState");
        writer.StartObject();
        writer.Key("loggedIn");
        writer.Bool(options.loggedIn);
        writer.Key("contextMenuAllowed");
        writer.Bool(options.contextMenuAllowed);
        writer.Key("status");
        writer.Int(options.status);
        writer.Key("reason");
        writer.Int(options.reason);
        writer.EndObject();
    }
    writer.EndObject();
    return buffer.GetString();
}

bool parseMountAction(const std::vector<std::string>& positional, ClientOptions& options, std::string& error) {
    if (positional.size() != 2) {
        error = positional[0] + " takes one folder";
        return false;
    }
    options.command = positional[0] == "mount" ? "mountMirror" : "unmountMirror";
    // The server runs in another folder: a relative path means the user's own.
    const std::string path = QFileInfo(QString::fromStdString(positional[1])).absoluteFilePath().toStdString();
    options.body = mountBody(path, options);
    options.subject = path;
    options.action = "send";
    return true;
}
