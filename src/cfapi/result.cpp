#include "cfapi/result.h"

#include <QString>

#include "suite/logbridge/spdlog_bridge.h"

namespace nimbrel::cfapi {

void logResultAssert(const char* condition, const char* file, int line) {
    LOG_CRITICAL << QString("ASSERT: \"%1\" in file %2, line %3").arg(condition).arg(file).arg(line);
}

}  // namespace nimbrel::cfapi
