#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/crashrpt.h"
#include "platform/platform_paths.h"
#include "platform/win32/child_role.h"
#include "platform/windows.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
namespace t = nimbrel::test;
namespace role = nimbrel::test::win32;

std::vector<fs::path> foldersIn(const fs::path& dir) {
    std::vector<fs::path> found;
    if (!fs::is_directory(dir)) return found;
    for (const auto& entry : fs::directory_iterator(dir)) found.push_back(entry.path());
    return found;
}

void report(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Installs the crash reporter as the host does and crashes by a null dereference (a kill with
// SIGSEGV is what the end-to-end start-up tests do).
__attribute__((no_sanitize("address", "undefined"))) void crashByNullDereference() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

TEST(Win32ChildRole, DISABLED_Crash) {
    role::joinParentFolders();
    std::wstring saveDir = nimbrel::platform::toWindowsPath(role::roleEnv("ROLE_SAVE_DIR"));
    std::wstring attached = nimbrel::platform::toWindowsPath(role::roleEnv("ROLE_ATTACH"));
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info;
    info.pszAppName = L"RoziDavidoVodido";
    info.pszAppVersion = L"8.8.0";
    info.pszEmailTo = L"crash@example.com";
    info.pszEmailSubject = L"RoziDavidoVodido-git8.8.0.20260828-20260918165948";
    info.pszEmailText = L"compiletime:  Sep 18 2026 16:59:48\r\nstarttime:  2026-09-18 17:00:00";
    info.pszErrorReportSaveDir = saveDir.c_str();
    info.dwFlags = CR_INST_ALL_POSSIBLE_HANDLERS | CR_INST_NO_GUI;
    ASSERT_EQ(crInstallW(&info), 0);
    ASSERT_EQ(crAddScreenshot2(CR_AS_MAIN_WINDOW | CR_AS_USE_JPEG_FORMAT, 95), 0);
    ASSERT_EQ(crAddFile2W(attached.c_str(), nullptr, L"ini file", CR_AF_MAKE_FILE_COPY), 0);
    ASSERT_EQ(crAddFile2W((attached + L".gone").c_str(), nullptr, L"log file", CR_AF_MISSING_FILE_OK), 0);
    ASSERT_EQ(crAddPropertyW(L"CompileVersion", L"git8.8.0.20260828"), 0);
    ASSERT_EQ(crAddPropertyW(L"StartRunTime", L"2026-09-18 17:00:00"), 0);
    report("installed");
    crashByNullDereference();
    report("survived");
}

TEST(Win32CrashReporter, NullDereferenceWritesTheReportAndQueuesItForSending) {
    const std::string saveDir = t::makeScratchDir("crashlogs");
    const std::string attached = t::makeScratchDir("app") + "/config.ini";
    t::writeFile(attached + ".target", "[General]\nkey=value\n");
    fs::create_symlink(attached + ".target", attached);  // attachments follow links
    auto child = role::startRole("Crash", {{"ROLE_SAVE_DIR", saveDir}, {"ROLE_ATTACH", attached}});
    EXPECT_EQ(child->wait(), 128 + SIGSEGV) << child->out() << child->err();
    EXPECT_EQ(child->out().find("survived"), std::string::npos);
    auto reports = foldersIn(saveDir);
    ASSERT_EQ(reports.size(), 1u);
    const fs::path report = reports.front();

    std::regex name("RoziDavidoVodido_[0-9]{8}_[0-9]{6}_" + std::to_string(child->pid()));
    EXPECT_TRUE(std::regex_match(report.filename().string(), name)) << report;
    std::string email = t::readFile(report / "email.txt");
    EXPECT_NE(email.find("To: crash@example.com\r\n"), std::string::npos) << email;
    EXPECT_NE(email.find("Subject: RoziDavidoVodido-git8.8.0.20260828-20260918165948\r\n"), std::string::npos);
    EXPECT_NE(email.find("compiletime:  Sep 18 2026 16:59:48\r\nstarttime:  2026-09-18 17:00:00"), std::string::npos);
    EXPECT_EQ(t::readFile(report / "properties.txt"),
              "CompileVersion=git8.8.0.20260828\nStartRunTime=2026-09-18 17:00:00\n");
    EXPECT_EQ(t::readFile(report / "config.ini"), "[General]\nkey=value\n");
    EXPECT_FALSE(fs::is_symlink(report / "config.ini"));
    EXPECT_FALSE(fs::exists(report / "config.ini.gone"));
    EXPECT_NE(t::readFile(report / "files.txt").find("missing: config.ini.gone"), std::string::npos);
    EXPECT_NE(t::readFile(report / "screenshot.txt").find("JPEG quality 95"), std::string::npos);
    std::string backtrace = t::readFile(report / "backtrace.txt");
    EXPECT_EQ(backtrace.rfind("signal 11 (SIGSEGV)", 0), 0u) << backtrace;
    auto queued = foldersIn(fs::path(t::platformHome()) / "crash-outbox");
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued.front().filename(), report.filename());
    EXPECT_EQ(t::readFile(queued.front() / "config.ini"), "[General]\nkey=value\n");
}

TEST(Win32CrashReporter, InstallationIsValidatedAndCallsNeedIt) {
    wchar_t message[256] = {};
    EXPECT_NE(crAddPropertyW(L"a", L"b"), 0);
    EXPECT_NE(crUninstall(), 0);
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info - 1;
    info.pszAppName = L"App";
    EXPECT_NE(crInstallW(&info), 0);
    EXPECT_GT(crGetLastErrorMsgW(message, 256), 0);
    info.cb = sizeof info;
    info.pszAppName = nullptr;
    EXPECT_NE(crInstallW(&info), 0);

    struct sigaction before {};
    sigaction(SIGSEGV, nullptr, &before);

    // A save folder that does not exist yet is created.
    std::string saveDir = t::makeScratchDir("nested") + "/deeper/crashlogs";
    std::wstring saveDirWin = nimbrel::platform::toWindowsPath(saveDir);
    info.pszAppName = L"App";
    info.pszErrorReportSaveDir = saveDirWin.c_str();
    info.dwFlags = CR_INST_DONT_SEND_REPORT;
    ASSERT_EQ(crInstallW(&info), 0);
    EXPECT_TRUE(fs::is_directory(saveDir));
    EXPECT_NE(crInstallW(&info), 0);  // only once
    EXPECT_NE(crAddFile2W(L"\\no\\such\\file.txt", nullptr, L"x", CR_AF_MAKE_FILE_COPY), 0);
    EXPECT_EQ(crAddFile2W(L"\\no\\such\\file.txt", nullptr, L"x", CR_AF_MISSING_FILE_OK), 0);
    EXPECT_NE(crAddScreenshot2(CR_AS_MAIN_WINDOW, 101), 0);
    struct sigaction installed {};
    sigaction(SIGSEGV, nullptr, &installed);
    EXPECT_NE(installed.sa_sigaction, before.sa_sigaction);
    EXPECT_EQ(crUninstall(), 0);

    // The previous SIGSEGV disposition is back after uninstalling.
    struct sigaction current {};
    sigaction(SIGSEGV, nullptr, &current);
    EXPECT_EQ(current.sa_sigaction, before.sa_sigaction);
    EXPECT_EQ(crGetLastErrorMsgW(nullptr, 10), -1);
}

}  // namespace
