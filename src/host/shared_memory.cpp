#include "host/shared_memory.h"

#include <cstring>

#include "host/share_restricted_sd.h"

MMF::MMF(const std::string& name) : name_(name) {}

MMF::~MMF() { close(); }

bool MMF::create() {
    if (!handle_) {
        CShareRestrictedSD descriptor;
        handle_ = CreateFileMappingA(INVALID_HANDLE_VALUE, descriptor.securityAttributes(), PAGE_READWRITE, 0,
                                     kSectionSize, name_.c_str());
    }
    return handle_ != nullptr;
}

bool MMF::open() {
    if (!handle_) handle_ = OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, name_.c_str());
    return handle_ != nullptr;
}

bool MMF::write(const char* bytes, std::size_t length) {
    if (length > kSectionSize) return false;
    void* view = MapViewOfFile(handle_, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) return false;
    std::memcpy(view, bytes, length);
    UnmapViewOfFile(view);
    return true;
}

bool MMF::read(std::string& text) {
    void* view = MapViewOfFile(handle_, FILE_MAP_READ, 0, 0, 0);
    if (!view) return false;
    const char* start = static_cast<const char*>(view);
    text.assign(start, strnlen(start, kSectionSize));
    UnmapViewOfFile(view);
    return true;
}

void MMF::close() {
    if (handle_) {
        CloseHandle(handle_);
        handle_ = nullptr;
    }
}

SharedMemory& SharedMemory::instance() {
    static SharedMemory memory;
    return memory;
}

SharedMemory::~SharedMemory() { sections_.clear(); }

bool SharedMemory::write(const std::string& name, const std::string& text) {
    auto found = sections_.find(name);
    if (found != sections_.end()) return found->second->write(text.c_str(), text.size() + 1);

    auto section = std::make_unique<MMF>(name);
    if (!section->create()) return false;
    if (!section->write(text.c_str(), text.size() + 1)) return false;
    sections_.emplace(name, std::move(section));
    return true;
}

bool SharedMemory::read(const std::string& name, std::string& text) {
    auto found = sections_.find(name);
    if (found != sections_.end()) return found->second->read(text);

    auto section = std::make_unique<MMF>(name);
    if (!section->open()) return false;
    if (!section->read(text)) return false;
    sections_.emplace(name, std::move(section));
    return true;
}

void SharedMemory::remove(const std::string& name) { sections_.erase(name); }
