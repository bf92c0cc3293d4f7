// Proxy settings, disk information and the hard-link repair notices.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QDebug>
#include <QDir>

#include "ipc/ipc_text.h"
#include "ipc/service_ipc_manager.h"
#include "suite/base/proxy_config.h"
#include "suite/base/proxy_wrapper.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kInvalidPort = -1;

int intMember(const rapidjson::Value& object, const char* name, int fallback) {
    auto found = object.FindMember(name);
    return found != object.MemberEnd() && found->value.IsInt() ? found->value.GetInt() : fallback;
}

QString stringMember(const rapidjson::Value& object, const char* name) {
    auto found = object.FindMember(name);
    if (found == object.MemberEnd() || !found->value.IsString()) return QString();
    return QString::fromUtf8(found->value.GetString(), static_cast<int>(found->value.GetStringLength()));
}

// The port may come as a number or as a decimal string; anything else is invalid.
int portMember(const rapidjson::Value& object) {
    auto found = object.FindMember("port");
    if (found == object.MemberEnd()) return kInvalidPort;
    if (found->value.IsInt()) return found->value.GetInt();
    if (!found->value.IsString()) return kInvalidPort;
    bool converted = false;
    int port = QString::fromUtf8(found->value.GetString()).toInt(&converted, 10);
    return converted ? port : kInvalidPort;
}

// Repair notices carry Windows paths: cleaned, with "\" separators.
std::string windowsPathUtf8(const QString& path) {
    return QDir::cleanPath(path).replace(QLatin1Char('/'), QLatin1Char('\\')).toUtf8().toStdString();
}

std::wstring requestText(const char* command, const rapidjson::Document& body) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    body.Accept(writer);
    return wideFromUtf8(std::string(command) + "\r\n" + std::string(buffer.GetString(), buffer.GetSize()));
}

}  // namespace

int CServiceIpcManager::onIpcZiduZuduSendConfig(const std::string& ipcName, const std::wstring& body,
                                                const std::wstring&) {
    static const std::string kSummary = "CClientIpcManager::onIpcZiduZuduSendConfig return failed";
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed, kSummary, true)) return 301;
    auto refuse = [&] {
        rapidjson::Document document;
        std::wstring reply;
        onIpcReturnFailure("S_FAIL", "301", kSummary, reply, document);
        sendReply(ipcName, reply);
        return -1;
    };

    ProxyRecord record;
    record.type = intMember(parsed, "type", -1);
    if (record.type < kProxyNone || record.type > kProxySocks5) {
        qInfo() << "CServiceIpcManager::onIpcZiduZuduSendConfig"
                << ", type value is invalid. var = " << record.type;
        return refuse();
    }
    if (record.type != kProxyNone) {
        record.port = portMember(parsed);
        if (record.port < 1 || record.port > 65535) {
            qInfo() << "CServiceIpcManager::onIpcZiduZuduSendConfig"
                    << ", port value is invalid. var = " << record.port;
            return refuse();
        }
        record.address = stringMember(parsed, "address");
        if (record.address.isEmpty()) {
            qInfo() << "CServiceIpcManager::onIpcZiduZuduSendConfig"
                    << ", address value is empty.";
            return refuse();
        }
        record.userName = stringMember(parsed, "userName");
        record.password = stringMember(parsed, "password");
    }
    if (!CProxyConfig::instance().addProxy(record)) {
        qInfo() << "CServiceIpcManager::onIpcZiduZuduSendConfig"
                << " CProxyConfig.addProxy return failure ";
        return refuse();
    }
    CProxyWrapper::instance().ReloadProxy(record.type);
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

int CServiceIpcManager::onIpcZiduZuduReloadProxy(const std::string& ipcName, const std::wstring& body,
                                                 const std::wstring&) {
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed, "CClientIpcManager::onIpcZiduZuduReloadProxy return failed", true))
        return 301;
    CProxyWrapper::instance().ReloadProxy(intMember(parsed, "newType", kProxyNone));
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

int CServiceIpcManager::onIpcGetDiskinfo(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed)) return -1;
    // No disk is measured: the client shows the cloud's own figures.
    rapidjson::Document document;
    document.SetObject();
    auto& allocator = document.GetAllocator();
    rapidjson::Value var(rapidjson::kObjectType);
    var.AddMember("disksize", static_cast<int64_t>(0), allocator);
    var.AddMember("freedisksize", static_cast<int64_t>(0), allocator);
    document.AddMember("var", var, allocator);
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

void CServiceIpcManager::notifyHardLinkRepairStarted(const QString& filePath, const QString& tempPath) {
    rapidjson::Document body;
    body.SetObject();
    auto& allocator = body.GetAllocator();
    const std::string file = windowsPathUtf8(filePath);
    const std::string temp = windowsPathUtf8(tempPath);
    body.AddMember("filePath", rapidjson::Value(file.c_str(), allocator), allocator);
    body.AddMember("tempPath", rapidjson::Value(temp.c_str(), allocator), allocator);
    LOG_INFO << "notify hardlink repair started, path:" << filePath << " temp:" << tempPath;
    std::wstring reply;
    request(requestText("hardLinkRepairStarted", body), reply);
}

void CServiceIpcManager::notifyHardLinkRepairFinished(const QString& filePath, bool updateLsid) {
    rapidjson::Document body;
    body.SetObject();
    auto& allocator = body.GetAllocator();
    const std::string file = windowsPathUtf8(filePath);
    body.AddMember("filePath", rapidjson::Value(file.c_str(), allocator), allocator);
    body.AddMember("bUpdateLsid", updateLsid, allocator);
    LOG_INFO << "notify hardlink repair finished, path:" << filePath;
    std::wstring reply;
    request(requestText("hardLinkRepairFinished", body), reply);
}
