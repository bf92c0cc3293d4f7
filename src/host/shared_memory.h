#pragma once
// Small text values published to other processes of the suite through named sections (today the
// port of the context-menu socket server). A section holds at most 999 bytes of text and a NUL.

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "platform/windows.h"

// One named section.
class MMF {
public:
    static constexpr DWORD kSectionSize = 1000;

    explicit MMF(const std::string& name);
    virtual ~MMF();
    MMF(const MMF&) = delete;
    MMF& operator=(const MMF&) = delete;

    // Creates the page-file-backed section (Everyone may open it); true when a handle is held.
    bool create();
    // Opens a section that some process created; true when a handle is held.
    bool open();
    // Copies `length` bytes to the start of the section.
    bool write(const char* bytes, std::size_t length);
    // The bytes up to the first NUL.
    bool read(std::string& text);
    void close();

    const std::string& name() const { return name_; }

private:
    HANDLE handle_ = nullptr;
    std::string name_;
};

// The process's sections by name; each is kept open, and so stays readable by other processes,
// until it is removed or the process ends. Not thread-safe: callers serialise.
class SharedMemory {
public:
    static SharedMemory& instance();
    virtual ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    bool write(const std::string& name, const std::string& text);
    bool read(const std::string& name, std::string& text);
    void remove(const std::string& name);

private:
    SharedMemory() = default;
    std::map<std::string, std::unique_ptr<MMF>> sections_;
};
