#pragma once
// What this build is and where its crash reports go. The mailbox, mail server and password are
// deployment configuration of the suite's crash-report collection.

namespace nimbrel::build {

inline constexpr char kVersion[] = "8.8.0.20260828";
inline constexpr char kBuildDate[] = "Sep 18 2026";
inline constexpr char kBuildTime[] = "16:59:48";
// Used when a version string has nothing to cut before its last ".".
inline constexpr char kFallbackVersion[] = "6.0.0";
inline constexpr char kClientName[] = "Orvane";

inline constexpr wchar_t kCrashReportMailbox[] = L"nimbrel-crash@tellwick.com.cn";
inline constexpr wchar_t kCrashReportSmtpServer[] = L"smtp.tellwick.com.cn";
inline constexpr wchar_t kCrashReportSmtpPassword[] = L"Tw8cR4nq2X";

}  // namespace nimbrel::build
