// The shell journal: what SHChangeNotify and the settings broadcast leave for Explorer, read back
// in-process and with nimbrel-shell, from several writers at once and across a roll-over.
#include "platform/shell_journal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/shlobj.h"
#include "platform/windows.h"
#include "support/test_env.h"

namespace {

using nimbrel::platform::readShellJournal;
using nimbrel::platform::ShellJournalRecord;
using nimbrel::test::runCommand;

constexpr UINT kFlags = SHCNF_PATHW | SHCNF_FLUSH | SHCNF_FLUSHNOWAIT;

std::string shellTool() { return nimbrel::test::appDir() + "/nimbrel-shell"; }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        result.push_back(text.substr(start, end - start));
    }
    return result;
}

TEST(ShellJournalTest, RecordsWhatExplorerIsToldAndTheToolShowsIt) {
    SHChangeNotify(SHCNE_UPDATEITEM | SHCNE_ATTRIBUTES, kFlags, L"\\home\\ann\\Sync\\a.txt", nullptr);
    SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW | SHCNF_FLUSH, L"\\home\\ann\\Other", nullptr);
    DWORD_PTR answer = 1;
    EXPECT_NE(SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Refresh"),
                                  SMTO_ABORTIFHUNG, 1000, &answer),
              0);
    PIDLIST_ABSOLUTE drives = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
    ILFree(drives);

    const std::vector<ShellJournalRecord> records = readShellJournal();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].eventNames, "SHCNE_ATTRIBUTES|SHCNE_UPDATEITEM");
    EXPECT_EQ(records[0].flags, 0x3005u);
    EXPECT_EQ(records[0].flagNames, "SHCNF_PATHW|SHCNF_FLUSHNOWAIT");
    ASSERT_EQ(records[0].paths.size(), 1u);
    EXPECT_EQ(records[0].paths[0].windows, "\\home\\ann\\Sync\\a.txt");
    EXPECT_EQ(records[0].paths[0].host, "/home/ann/Sync/a.txt");
    EXPECT_EQ(records[0].pid, static_cast<long>(getpid()));
    EXPECT_EQ(records[1].flagNames, "SHCNF_PATHW|SHCNF_FLUSH");
    EXPECT_EQ(records[2].eventNames, "WM_SETTINGCHANGE");
    EXPECT_EQ(records[2].text, "Refresh");

    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> expected;  // one fragment per printed line
    } cases[] = {
        {{"log"},
         {"] SHCNE_ATTRIBUTES|SHCNE_UPDATEITEM /home/ann/Sync/a.txt", "SHCNE_MKDIR /home/ann/Other",
          "WM_SETTINGCHANGE \"Refresh\""}},
        {{"log", "/home/ann/Sync"}, {"/home/ann/Sync/a.txt"}},
        {{"log", "\\HOME\\ANN\\"}, {"/home/ann/Sync/a.txt", "/home/ann/Other"}},
        {{"log", "/home/ann/Sy"}, {}},
        {{"log", "--json", "/home/ann/Other"}, {"\"call\":\"SHChangeNotify\",\"event\":\"0x00000008\""}},
    };
    for (const Case& c : cases) {
        auto result = runCommand(shellTool(), c.args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const auto printed = lines(result.out);
        ASSERT_EQ(printed.size(), c.expected.size()) << result.out;
        for (std::size_t i = 0; i < printed.size(); ++i) {
            EXPECT_NE(printed[i].find(c.expected[i]), std::string::npos) << printed[i];
        }
    }
    EXPECT_EQ(runCommand(shellTool(), {"show"}).exitCode, 2);
}

// Four processes write at once past the roll-over size: every record is kept whole, once, and in
// its writer's order, the older ones in the one older file.
TEST(ShellJournalTest, ConcurrentWritersAcrossARollOver) {
    constexpr int kWriters = 4;
    constexpr int kRecords = 750;
    const std::wstring padding(1000, L'x');
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < kRecords; ++i) {
                const std::wstring path =
                    L"\\w" + std::to_wstring(writer) + L"\\" + std::to_wstring(i) + L"\\" + padding;
                SHChangeNotify(SHCNE_UPDATEDIR, kFlags, path.c_str(), nullptr);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
    }
    const std::string current = nimbrel::platform::shellJournalPath();
    EXPECT_TRUE(std::filesystem::exists(current + ".1"));
    EXPECT_LE(std::filesystem::file_size(current + ".1"), 4u * 1024 * 1024 + 65536);

    std::map<std::string, int> next;
    int total = 0;
    for (const ShellJournalRecord& record : readShellJournal()) {
        const std::string& path = record.paths.at(0).host;
        const std::string writer = path.substr(0, path.find('/', 1));
        const int sequence = std::stoi(path.substr(writer.size() + 1));
        EXPECT_EQ(sequence, next[writer]++) << path;
        ++total;
    }
    EXPECT_EQ(total, kWriters * kRecords);
    EXPECT_EQ(lines(nimbrel::test::readFile(current)).size() + lines(nimbrel::test::readFile(current + ".1")).size(),
              static_cast<std::size_t>(total));
}

// Reported once per process, so the check runs in a process of its own.
TEST(ShellJournalTest, AnUnwritableJournalIsReportedOnceAndTheCallStillReturns) {
    EXPECT_EXIT(
        {
            std::vector<std::string> reports;
            nimbrel::platform::setDiagnosticSink([&](const std::string& message) { reports.push_back(message); });
            nimbrel::test::writeFile(nimbrel::test::platformHome() + "/shell", "not a folder");
            for (int i = 0; i < 3; ++i) SHChangeNotify(SHCNE_UPDATEDIR, kFlags, L"\\a", nullptr);
            const bool sent =
                SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr) != 0;
            nimbrel::platform::setDiagnosticSink(nullptr);
            std::cerr << "sent " << sent << ", journal " << readShellJournal().size() << ", reports " << reports.size();
            for (const std::string& report : reports) std::cerr << ": " << report;
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "sent 1, journal 0, reports 1: shell journal .* cannot be written");
}

TEST(ShellJournalTest, WatchPrintsNotificationsAsTheyArrive) {
    SHChangeNotify(SHCNE_CREATE, kFlags, L"\\x\\before", nullptr);
    nimbrel::test::ChildProcess watch(shellTool(), {"watch", "--since-start", "/x"});
    SHChangeNotify(SHCNE_CREATE, kFlags, L"\\y\\elsewhere", nullptr);
    SHChangeNotify(SHCNE_CREATE, kFlags, L"\\x\\after", nullptr);
    EXPECT_TRUE(nimbrel::test::waitUntil([&] { return watch.out().find("/x/after") != std::string::npos; }))
        << watch.out() << watch.err();
    watch.signal(SIGINT);
    EXPECT_EQ(watch.wait(), 0);
    const auto printed = lines(watch.out());
    ASSERT_EQ(printed.size(), 2u) << watch.out();
    EXPECT_NE(printed[0].find("SHCNE_CREATE /x/before"), std::string::npos);
    EXPECT_NE(printed[1].find("SHCNE_CREATE /x/after"), std::string::npos);
}

}  // namespace
