#include "cf_record_codec.h"

#include <sys/stat.h>

#include <fstream>

namespace nimbrel::platform::cf {

namespace {

constexpr unsigned char kFormat = 1;
constexpr unsigned kPinMask = 0x07;
constexpr unsigned kInSync = 0x08;
constexpr unsigned kHydrated = 0x10;
constexpr unsigned kUnflushed = 0x20;
constexpr unsigned kFolder = 0x40;
constexpr unsigned kAlwaysFull = 0x80;

enum IdentityForm : unsigned char { kBytes = 0, kPacked = 1, kSpilled = 2 };

constexpr std::size_t kEarlierTokenLength = 32;

std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::uint32_t bootTag() { return static_cast<std::uint32_t>(bootHash()); }

void putVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

void putFixed(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// Whether the identity is UTF-16 whose every unit is below 0x80.
bool packable(const std::string& identity) {
    if (identity.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < identity.size(); i += 2) {
        if (static_cast<unsigned char>(identity[i]) >= 0x80 || identity[i + 1] != 0) return false;
    }
    return true;
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool byte(unsigned char& value) {
        if (at_ >= bytes_.size()) return false;
        value = static_cast<unsigned char>(bytes_[at_++]);
        return true;
    }
    bool varint(std::uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            unsigned char b = 0;
            if (!byte(b)) return false;
            value |= static_cast<std::uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool fixed(std::uint64_t& value, int bytes) {
        if (bytes_.size() - at_ < static_cast<std::size_t>(bytes)) return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes_[at_++])) << (8 * i);
        return true;
    }
    bool take(std::size_t count, std::string_view& out) {
        if (bytes_.size() - at_ < count) return false;
        out = bytes_.substr(at_, count);
        at_ += count;
        return true;
    }
    bool atEnd() const { return at_ == bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

}  // namespace

std::uint64_t bootHash() {
    static const std::uint64_t hash = [] {
        std::ifstream file("/proc/sys/kernel/random/boot_id");
        std::string id;
        std::getline(file, id);
        return fnv1a(id);
    }();
    return hash;
}

std::uint32_t rootTagOf(const std::string& rootPath) {
    // Every record check asks for the same root's tag again; comparing the path is cheaper than
    // hashing it byte by byte.
    thread_local std::string lastPath;
    thread_local std::uint32_t lastTag = static_cast<std::uint32_t>(fnv1a(lastPath));
    if (rootPath != lastPath) {
        lastTag = static_cast<std::uint32_t>(fnv1a(rootPath));
        lastPath = rootPath;
    }
    return lastTag;
}

bool isRecordOf(const PlaceholderRecord& record, const std::string& rootPath, const struct ::stat& st) {
    return record.inode == st.st_ino && record.device == st.st_dev && record.rootTag == rootTagOf(rootPath);
}

bool isEarlierToken(std::string_view bytes) {
    if (bytes.size() != kEarlierTokenLength) return false;
    for (char c : bytes) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::string encodeRecord(const PlaceholderRecord& r, bool spilled) {
    const bool unflushed = r.hydrated && !r.dataSynced;
    unsigned flags = static_cast<unsigned>(r.pin) & kPinMask;
    if (r.inSync == CF_IN_SYNC_STATE_IN_SYNC) flags |= kInSync;
    if (r.hydrated) flags |= kHydrated;
    if (unflushed) flags |= kUnflushed;
    if (r.isDirectory) flags |= kFolder;
    if (r.alwaysFull) flags |= kAlwaysFull;
    const IdentityForm form = spilled ? kSpilled : packable(r.identity) ? kPacked : kBytes;
    std::string out;
    out.reserve(kRecordInInode);
    out.push_back(static_cast<char>(kFormat));
    out.push_back(static_cast<char>(flags));
    out.push_back(static_cast<char>(form));
    putFixed(out, r.rootTag, 4);
    putVarint(out, r.device);
    putVarint(out, r.inode);
    putFixed(out, static_cast<std::uint64_t>(r.creationTime), 8);
    putVarint(out, static_cast<std::uint64_t>(r.usn));
    if (unflushed) putFixed(out, bootTag(), 4);
    if (form == kSpilled) {
        putVarint(out, r.identityKey);
    } else if (form == kPacked) {
        putVarint(out, r.identity.size() / 2);
        for (std::size_t i = 0; i < r.identity.size(); i += 2) out.push_back(r.identity[i]);
    } else {
        putVarint(out, r.identity.size());
        out += r.identity;
    }
    return out;
}

std::optional<PlaceholderRecord> decodeRecord(std::string_view bytes, bool& spilled) {
    Reader in(bytes);
    unsigned char format = 0, flags = 0, form = 0;
    std::uint64_t rootTag = 0, creationTime = 0, usn = 0, length = 0, tag = 0;
    PlaceholderRecord r;
    if (!in.byte(format) || format != kFormat || !in.byte(flags) || !in.byte(form) || form > kSpilled ||
        !in.fixed(rootTag, 4) || !in.varint(r.device) || !in.varint(r.inode) || !in.fixed(creationTime, 8) ||
        !in.varint(usn) || ((flags & kUnflushed) && !in.fixed(tag, 4)) || !in.varint(length)) {
        return std::nullopt;
    }
    r.rootTag = static_cast<std::uint32_t>(rootTag);
    r.pin = static_cast<CF_PIN_STATE>(flags & kPinMask);
    r.inSync = flags & kInSync ? CF_IN_SYNC_STATE_IN_SYNC : CF_IN_SYNC_STATE_NOT_IN_SYNC;
    // A claim not yet flushed holds only during the boot that made it.
    r.hydrated = (flags & kHydrated) && (!(flags & kUnflushed) || tag == bootTag());
    r.dataSynced = !r.hydrated || !(flags & kUnflushed);
    r.isDirectory = flags & kFolder;
    r.alwaysFull = flags & kAlwaysFull;
    r.creationTime = static_cast<std::int64_t>(creationTime);
    r.usn = static_cast<std::int64_t>(usn);
    spilled = form == kSpilled;
    std::string_view identity;
    if (spilled) {
        r.identityKey = length;
    } else if (!in.take(length, identity)) {
        return std::nullopt;
    } else if (form == kPacked) {
        r.identity.reserve(identity.size() * 2);
        for (char c : identity) {
            r.identity.push_back(c);
            r.identity.push_back('\0');
        }
    } else {
        r.identity.assign(identity);
    }
    if (!in.atEnd() || r.identity.size() > CF_PLACEHOLDER_MAX_FILE_IDENTITY_LENGTH) return std::nullopt;
    return r;
}

}  // namespace nimbrel::platform::cf
