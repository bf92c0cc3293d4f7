#include "search_scope_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>

#include "platform/platform_paths.h"
#include "platform/search_scope_control.h"

namespace nimbrel::platform::search {

namespace {

std::string storeDir() {
    auto dir = platformHome() + "/searchscope";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return dir;
}

std::string rulesPath() { return storeDir() + "/rules"; }
std::string stoppedFlagPath() { return storeDir() + "/service-stopped"; }

// Serialises savers of all processes; readers see either the old or the new file (rename).
class StoreLock {
public:
    StoreLock() : fd_(::open((storeDir() + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~StoreLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

std::vector<ScopeRule> readRules(const std::string& path) {
    std::vector<ScopeRule> rules;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 2 || (line[0] != '+' && line[0] != '-')) continue;
        rules.push_back({fromUtf8(line.substr(1)), line[0] == '+'});
    }
    return rules;
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// True when `rule` names `url` itself or a folder that contains it.
bool covers(const std::wstring& rule, const std::wstring& url) {
    if (rule.size() > url.size()) return false;
    if (!sameUrl(rule, url.substr(0, rule.size()))) return false;
    if (rule.size() == url.size()) return true;
    return isSeparator(url[rule.size()]) || (!rule.empty() && isSeparator(rule.back()));
}

}  // namespace

bool sameUrl(const std::wstring& left, const std::wstring& right) {
    return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](wchar_t a, wchar_t b) {
               return std::towlower(static_cast<wint_t>(a)) == std::towlower(static_cast<wint_t>(b));
           });
}

const ScopeRule* coveringRule(const std::vector<ScopeRule>& rules, const std::wstring& url) {
    const ScopeRule* best = nullptr;
    for (const auto& rule : rules) {
        if (covers(rule.url, url) && (!best || rule.url.size() > best->url.size())) best = &rule;
    }
    return best;
}

std::vector<ScopeRule> loadRules() { return readRules(rulesPath()); }

bool saveChanges(const std::vector<ScopeChange>& changes) {
    StoreLock lock;
    if (!lock.held()) return false;
    auto rules = readRules(rulesPath());
    for (const auto& change : changes) {
        rules.erase(std::remove_if(rules.begin(), rules.end(),
                                   [&](const ScopeRule& rule) { return sameUrl(rule.url, change.rule.url); }),
                    rules.end());
        if (!change.remove) rules.push_back(change.rule);
    }
    auto temp = rulesPath() + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& rule : rules) out << (rule.include ? '+' : '-') << toUtf8(rule.url) << '\n';
        out.flush();
        if (!out) return false;
    }
    return ::rename(temp.c_str(), rulesPath().c_str()) == 0;
}

void setServiceStopped(bool stopped) {
    if (stopped) {
        std::ofstream(stoppedFlagPath()) << "stopped\n";
    } else {
        std::error_code ignored;
        std::filesystem::remove(stoppedFlagPath(), ignored);
    }
}

bool serviceStopped() { return std::filesystem::exists(stoppedFlagPath()); }

}  // namespace nimbrel::platform::search
