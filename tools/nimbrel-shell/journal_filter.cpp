#include "journal_filter.h"

#include <algorithm>
#include <cctype>

namespace {

std::string windowsKey(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    std::transform(path.begin(), path.end(), path.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return path;
}

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

bool isAtOrBelow(const std::string& path, const std::string& prefix, char separator) {
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    return path.size() == prefix.size() || prefix.back() == separator || path[prefix.size()] == separator;
}

}  // namespace

JournalFilter::JournalFilter(std::string path) : hostPath_(!path.empty() && path.front() == '/') {
    prefix_ = withoutTrailingSeparators(hostPath_ ? path : windowsKey(path));
}

bool JournalFilter::selects(const nimbrel::platform::ShellJournalRecord& record) const {
    if (prefix_.empty()) return true;
    return std::any_of(record.paths.begin(), record.paths.end(), [this](const auto& path) {
        return hostPath_ ? isAtOrBelow(path.host, prefix_, '/') : isAtOrBelow(windowsKey(path.windows), prefix_, '\\');
    });
}
