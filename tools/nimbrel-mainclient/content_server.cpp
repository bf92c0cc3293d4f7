#include "content_server.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <rapidjson/document.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kBodyPiece = 256 * 1024;

std::string stringMember(const rapidjson::Document& document, const char* name) {
    if (!document.IsObject()) return std::string();
    auto found = document.FindMember(name);
    if (found == document.MemberEnd() || !found->value.IsString()) return std::string();
    return std::string(found->value.GetString(), found->value.GetStringLength());
}

std::string percentEncoded(const std::string& path) {
    static const char* digits = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += digits[c >> 4];
            encoded += digits[c & 15];
        }
    }
    return encoded;
}

// A relative path that stays below its base: no absolute part, no "..".
bool staysBelow(const std::filesystem::path& relative) {
    if (relative.empty() || relative.is_absolute()) return false;
    for (const auto& part : relative) {
        if (part == "..") return false;
    }
    return true;
}

std::string fileSha256(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr);
    std::vector<char> buffer(1 << 20);
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
        EVP_DigestUpdate(digest.get(), buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(digest.get(), value, &length);
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[value[i] >> 4];
        hex += digits[value[i] & 15];
    }
    return hex;
}

}  // namespace

ContentServer::ContentServer(std::string cloudDir, std::string mountPath, ContentMisbehaviour misbehaviour)
    : cloudDir_(std::filesystem::weakly_canonical(cloudDir).string()),
      mountPath_(mountPath.empty() ? std::string() : std::filesystem::weakly_canonical(mountPath).string()),
      misbehaviour_(misbehaviour) {}

ContentServer::~ContentServer() {
    stopping_ = true;
    server_.stop();
    if (serverThread_.joinable()) serverThread_.join();
    if (hashThread_.joinable()) hashThread_.join();
}

bool ContentServer::start() {
    server_.Get("/files/(.*)",
                [this](const httplib::Request& request, httplib::Response& response) { serveFile(request, response); });
    // A small file's body would otherwise wait behind its headers for the client's acknowledgement.
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    serverThread_ = std::thread([this] { server_.listen_after_bind(); });
    hashThread_ = std::thread([this] { hashInBackground(); });
    return true;
}

void ContentServer::serveFile(const httplib::Request& request, httplib::Response& response) {
    const std::filesystem::path relative = request.matches[1].str();
    if (!staysBelow(relative)) {
        response.status = 404;
        return;
    }
    const std::string path = cloudDir_ + "/" + relative.string();
    auto fd = std::make_shared<int>(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (*fd < 0 || ::fstat(*fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (*fd >= 0) ::close(*fd);
        response.status = 404;
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    auto sent = std::make_shared<std::int64_t>(0);
    const ContentMisbehaviour how = misbehaviour_;
    response.set_content_provider(
        static_cast<std::size_t>(st.st_size), "application/octet-stream",
        [fd, sent, started, how](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            std::size_t piece = std::min(length, kBodyPiece);
            if (how.failAfterBytes >= 0) {
                if (*sent >= how.failAfterBytes) return false;
                piece = std::min<std::size_t>(piece, static_cast<std::size_t>(how.failAfterBytes - *sent));
            }
            if (how.rateBytesPerSecond > 0) {
                piece = std::min<std::size_t>(
                    piece, static_cast<std::size_t>(std::max<std::int64_t>(1, how.rateBytesPerSecond / 20)));
                std::this_thread::sleep_until(started +
                                              std::chrono::microseconds(*sent * 1000000 / how.rateBytesPerSecond));
            }
            std::vector<char> buffer(piece);
            ssize_t n = ::pread(*fd, buffer.data(), piece, static_cast<off_t>(offset));
            if (n <= 0) return false;
            *sent += n;
            return sink.write(buffer.data(), static_cast<std::size_t>(n));
        },
        [fd](bool) { ::close(*fd); });
}

std::string ContentServer::resolve(const std::string& id, const std::string& localPath) const {
    std::string local = localPath;
    std::replace(local.begin(), local.end(), '\\', '/');
    std::filesystem::path relative = id;
    if (!mountPath_.empty() && local.size() > mountPath_.size() &&
        local.compare(0, mountPath_.size(), mountPath_) == 0 && local[mountPath_.size()] == '/') {
        relative = local.substr(mountPath_.size() + 1);
    }
    if (!staysBelow(relative)) return std::string();
    const std::string path = cloudDir_ + "/" + relative.string();
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? relative.string() : std::string();
}

std::string ContentServer::sha256Of(const std::string& path, std::int64_t size, std::int64_t mtime) {
    {
        std::lock_guard<std::mutex> lock(hashMutex_);
        auto found = hashes_.find(path);
        if (found != hashes_.end() && found->second.size == size && found->second.mtime == mtime) {
            return found->second.hex;
        }
    }
    std::string hex = fileSha256(path);
    std::lock_guard<std::mutex> lock(hashMutex_);
    hashes_[path] = Hash{size, mtime, hex};
    return hex;
}

// Hashing ahead keeps a 256 MiB file's digest out of the time an application waits for it.
void ContentServer::hashInBackground() {
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(cloudDir_, error);
         !error && it != std::filesystem::recursive_directory_iterator() && !stopping_; it.increment(error)) {
        struct stat st {};
        const std::string path = it->path().string();
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) sha256Of(path, st.st_size, st.st_mtime);
    }
}

std::wstring ContentServer::metadataReply(const std::string& body) {
    if (misbehaviour_.answerDelayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(misbehaviour_.answerDelayMs));
    }
    rapidjson::Document request;
    request.Parse(body.c_str(), body.size());
    const std::string relative = resolve(stringMember(request, "id"), stringMember(request, "localPath"));
    rapidjson::Document document;
    std::wstring reply;
    if (misbehaviour_.refuseMetadata || relative.empty()) {
        envelope_.returnFailure(ReplyEnvelope::kFailure, "404",
                                misbehaviour_.refuseMetadata ? "metadata refused" : "no such file in the cloud", reply,
                                document);
        return reply;
    }
    const std::string path = cloudDir_ + "/" + relative;
    struct stat st {};
    ::stat(path.c_str(), &st);
    const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/files/" + percentEncoded(relative);
    const std::string hash = sha256Of(path, st.st_size, st.st_mtime);
    document.SetObject();
    auto& allocator = document.GetAllocator();
    rapidjson::Value var(rapidjson::kObjectType);
    var.AddMember("url", rapidjson::Value(url.c_str(), allocator), allocator);
    var.AddMember("contentHashAlgorithm", "SHA256", allocator);
    var.AddMember("contentHash", rapidjson::Value(hash.c_str(), allocator), allocator);
    var.AddMember("size", static_cast<std::int64_t>(st.st_size) + (misbehaviour_.wrongSize ? 1 : 0), allocator);
    var.AddMember("taskExists", false, allocator);
    document.AddMember("var", var, allocator);
    envelope_.returnSuccess(document, reply);
    return reply;
}
