#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>

#include "platform/windows.h"
#include "suite/base/get_pid.h"
#include "suite/base/sys_info.h"
#include "suite/base/utility.h"

namespace {

TEST(UtilityErrorText, Win32CodesAndHResultsReadAsTheSystemWords) {
    EXPECT_EQ(Utility::formatWinError(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
    EXPECT_EQ(Utility::formatWinError(ERROR_ACCESS_DENIED), "Access is denied.");
    EXPECT_EQ(Utility::formatWinError(E_ACCESSDENIED), "Access is denied.");
    EXPECT_EQ(Utility::formatWinError(ERROR_SUCCESS), "The operation completed successfully.");
}

TEST(UtilityErrorText, UnknownCodesNameTheCodeInHex) {
    EXPECT_EQ(Utility::formatWinError(0x2468ACEL), "Unknown error 0x02468ace");
    EXPECT_EQ(Utility::formatWinError(static_cast<long>(0x80FF1234u)), "Unknown error 0x80ff1234");
}

TEST(UtilitySystem, ANativeBuildIsNotUnderWow64) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "only a 64-bit build is known to run natively here";
    EXPECT_EQ(Utility::IsWow64(), FALSE);
}

TEST(UtilitySystem, GetPidIsThisProcess) { EXPECT_EQ(GetPid(), static_cast<DWORD>(getpid())); }

TEST(UtilitySystem, OsNameIsTheDistributionsPrettyName) {
    const QString name = SysInfo::instance().GetOSName();
    EXPECT_FALSE(name.isEmpty());
    EXPECT_EQ(&SysInfo::instance(), &SysInfo::instance());
    QFile release("/etc/os-release");
    if (!release.open(QIODevice::ReadOnly)) return;
    const QRegularExpression pretty("^PRETTY_NAME=\"?([^\"\\n]*)\"?$", QRegularExpression::MultilineOption);
    const auto match = pretty.match(QString::fromUtf8(release.readAll()));
    if (match.hasMatch()) {
        EXPECT_EQ(name, match.captured(1));
    }
}

}  // namespace
