#pragma once
// Facts about the operating system for reports, gathered once per process.

#include <QString>

#include "suite/base/singleton.h"

class SysInfo {
public:
    static SysInfo& instance() { return Singleton<SysInfo>::instance(); }

    // The distribution's own readable name ("Debian GNU/Linux 12 (bookworm)", the PRETTY_NAME of
    // /etc/os-release); the kernel type and version when the system has no release file.
    QString GetOSName() const { return osName_; }

private:
    friend class Singleton<SysInfo>;
    SysInfo();

    QString osName_;
};
