#include "suite/base/sys_info.h"

#include <QSysInfo>

SysInfo::SysInfo() : osName_(QSysInfo::prettyProductName()) {}
