#pragma once
// Crash reporting: installation of the crash handler and the throttle that keeps a server which
// restarts in a loop from mailing a report on every start.

#include <QDateTime>
#include <QString>
#include <chrono>
#include <functional>

// The version a crash report carries: the text before the last "." ("8.8.0.20260828" gives
// "8.8.0"); the fallback version when there is nothing before it.
QString crashReportVersion(const QString& version);

// The e-mail text of every report; accList "false" is written as an empty list.
QString crashReportHeader(const QString& startTime, const QString& osName, const QString& accList);

// Sending is allowed once `interval` seconds have passed since it was last armed. Times are Unix
// seconds in unsigned 32-bit arithmetic; a time that was never stored is 4294967295, so the
// difference wraps to a value far above any interval.
struct CrashRptThrottle {
    quint32 interval = 0;
    quint32 elapsed = 0;

    bool sendNow() const { return elapsed >= interval; }
    quint32 remainingSeconds() const { return sendNow() ? 0 : interval - elapsed; }
};
CrashRptThrottle crashRptThrottle(quint32 nowSeconds, quint32 lastArmedSeconds, quint32 interval);

// Installs the crash handler for the running server; with sendNow false reports stay in the
// local report folder. A failed installation is logged and start-up goes on without it.
void InstallCrashRpt(const QString& version, bool sendNow);

// Time as the throttle sees it; tests replace both to avoid real waits.
struct CrashRptClock {
    std::function<QDateTime()> now;
    std::function<void(std::chrono::seconds)> sleep;
    static CrashRptClock system();
};

// Reads the interval and the last arming time from the settings, installs the crash handler and
// either records now as the arming time or, within the interval, re-arms sending on a detached
// thread once the remaining seconds have passed.
void setUpCrashReporting(const QString& clientVersion, const CrashRptClock& clock);
