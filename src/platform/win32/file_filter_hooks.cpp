#include "platform/file_filter_hooks.h"

#include <sys/xattr.h>

#include <atomic>
#include <cerrno>

#include "platform/descriptor_paths.h"
#include "platform/win32_file_support.h"
#include "platform/win_file.h"

namespace nimbrel::platform {

namespace {

constexpr DWORD kStoredBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

PlaceholderAttributes noPlaceholder(const std::string&, int) { return {}; }

std::atomic<PlaceholderAttributeSource> currentSource{&noPlaceholder};
std::atomic<ExaminedPlaceholderAttributeSource> currentExaminedSource{nullptr};
std::atomic<HandlePlaceholderAttributeSource> currentHandleSource{nullptr};

std::string sameAccessPath(const std::string& hostPath) { return hostPath; }

std::atomic<AccessPathSource> currentAccessSource{&sameAccessPath};

void letOpenThrough(int) {}
DWORD letReadThrough(int) { return ERROR_SUCCESS; }

std::atomic<void (*)(int)> openedFilter{&letOpenThrough};
std::atomic<DWORD (*)(int)> readFilter{&letReadThrough};

DWORD storedDosBits(const std::string& hostPath) {
    DWORD bits = 0;
    ssize_t n = getXattrPath(hostPath, kDosAttributesXattr, &bits, sizeof bits, false);
    return n == static_cast<ssize_t>(sizeof bits) ? bits : 0;
}

DWORD ordinaryAttributesWith(const struct stat& st, DWORD stored) {
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode)) {
        // A read-only folder is only a marker on Windows (it still takes new files), so it is stored.
        attributes |= FILE_ATTRIBUTE_DIRECTORY | (stored & FILE_ATTRIBUTE_READONLY);
    } else if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    attributes |= stored & kStoredBits;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

}  // namespace

void setPlaceholderAttributeSource(PlaceholderAttributeSource source, ExaminedPlaceholderAttributeSource examined,
                                   HandlePlaceholderAttributeSource handle) {
    currentExaminedSource.store(nullptr);
    currentHandleSource.store(nullptr);
    currentSource.store(source ? source : &noPlaceholder);
    currentExaminedSource.store(source ? examined : nullptr);
    currentHandleSource.store(source ? handle : nullptr);
}

PlaceholderAttributes placeholderAttributesFor(const std::string& hostPath, int fd) {
    return currentSource.load()(hostPath, fd);
}

PlaceholderAttributes placeholderAttributesFor(const std::string& hostPath, const std::string& accessPath,
                                               const struct stat& st) {
    if (auto examined = currentExaminedSource.load()) return examined(hostPath, accessPath, st);
    return currentSource.load()(hostPath, -1);
}

PlaceholderAttributes placeholderAttributesFor(const FileObject& file) {
    if (auto handle = currentHandleSource.load()) return handle(file);
    return currentSource.load()(file.path, file.fd);
}

void setAccessPathSource(AccessPathSource source) { currentAccessSource.store(source ? source : &sameAccessPath); }

std::string accessPathFor(const std::string& hostPath) { return currentAccessSource.load()(hostPath); }

void setApplicationAccessFilter(ApplicationAccessFilter filter) {
    openedFilter.store(filter.opened ? filter.opened : &letOpenThrough);
    readFilter.store(filter.read ? filter.read : &letReadThrough);
}

void applicationOpenedHandle(int fd) { openedFilter.load()(fd); }

DWORD applicationReadHandle(int fd) { return readFilter.load()(fd); }

DWORD ordinaryAttributes(const struct stat& st, const std::string& hostPath) {
    return ordinaryAttributesWith(st, storedDosBits(hostPath));
}

DWORD combinedAttributes(const struct stat& st, const std::string& hostPath, int fd, DWORD* reparseTag) {
    return combinedAttributes(st, hostPath, placeholderAttributesFor(hostPath, fd), reparseTag);
}

DWORD combinedAttributes(const struct stat& st, const std::string& hostPath, const PlaceholderAttributes& extra,
                         DWORD* reparseTag, bool mayHaveStoredBits) {
    DWORD attributes = ordinaryAttributesWith(st, mayHaveStoredBits ? storedDosBits(hostPath) : 0);
    attributes = ((attributes & ~extra.clear) | extra.set) & ~FILE_ATTRIBUTE_NORMAL;
    // NORMAL is valid only alone, so it is recomputed after the placeholder bits are applied.
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    if (reparseTag) *reparseTag = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? extra.reparseTag : 0;
    return attributes;
}

}  // namespace nimbrel::platform
