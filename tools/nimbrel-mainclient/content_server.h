#pragma once
// The reference cloud's content: serves the files of the cloud folder over HTTP on a loopback port
// (ranges and HEAD included; bodies are streamed from the file, never held whole) and answers the
// server's "getDownloadMetadata" with a file's URL, size and SHA-256. For tests and demonstrations
// it can be told to misbehave (slow, dropping, wrong size, refusing, late).

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "content_misbehaviour.h"
#include "ipc/reply_envelope.h"

class ContentServer {
public:
    ContentServer(std::string cloudDir, std::string mountPath, ContentMisbehaviour misbehaviour);
    ~ContentServer();
    ContentServer(const ContentServer&) = delete;
    ContentServer& operator=(const ContentServer&) = delete;

    // Binds a port chosen by the system and starts serving; false when that fails.
    bool start();
    int port() const { return port_; }

    // The reply to "getDownloadMetadata" for its JSON body.
    std::wstring metadataReply(const std::string& body);

private:
    // The file below the cloud folder that a request names: the placeholder's path below the
    // mount, or else the item id read as a path below the cloud folder. Empty when there is none.
    std::string resolve(const std::string& id, const std::string& localPath) const;
    std::string sha256Of(const std::string& path, std::int64_t size, std::int64_t mtime);
    void hashInBackground();
    void serveFile(const httplib::Request& request, httplib::Response& response);

    std::string cloudDir_;
    std::string mountPath_;
    ContentMisbehaviour misbehaviour_;
    httplib::Server server_;
    std::thread serverThread_;
    std::thread hashThread_;
    std::atomic<bool> stopping_{false};
    int port_ = 0;
    ReplyEnvelope envelope_{"nimbrel-mainclient"};
    struct Hash {
        std::int64_t size;
        std::int64_t mtime;
        std::string hex;
    };
    std::mutex hashMutex_;
    std::map<std::string, Hash> hashes_;
};
