#include "shell_journal_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/diagnostics.h"
#include "platform/shell_journal.h"

namespace nimbrel::platform::shell {

namespace {

// One line per process is enough to tell why Explorer's view is missing from the journal.
void reportOnce(const std::string& path, int error) {
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) return;
    reportDiagnostic("shell journal " + path + " cannot be written (" + std::strerror(error) +
                     "); shell notifications of this process are not recorded");
}

// Only the writer that takes the lock at once rolls over, and only the file it has just grown:
// a writer that finds the file already renamed has nothing to do.
void rollOver(int fd, const std::string& path) {
    const int lockFd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) return;
    if (::flock(lockFd, LOCK_EX | LOCK_NB) == 0) {
        struct stat mine {};
        struct stat current {};
        if (::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &current) == 0 && mine.st_ino == current.st_ino &&
            mine.st_dev == current.st_dev && current.st_size > kJournalMaxBytes) {
            ::rename(path.c_str(), (path + ".1").c_str());
        }
        ::flock(lockFd, LOCK_UN);
    }
    ::close(lockFd);
}

}  // namespace

bool appendJournalLine(const std::string& line) {
    const std::string path = shellJournalPath();
    auto openJournal = [&] { return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644); };
    int fd = openJournal();
    // The folder is made with the first record of a platform home.
    if (fd < 0 && errno == ENOENT) {
        const std::string folder = path.substr(0, path.rfind('/'));
        if (::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST) fd = openJournal();
    }
    if (fd < 0) {
        reportOnce(path, errno);
        return false;
    }
    const std::string record = line + "\n";
    ssize_t written;
    do {
        written = ::write(fd, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    const int error = written < 0 ? errno : ENOSPC;
    const bool complete = written == static_cast<ssize_t>(record.size());
    struct stat status {};
    if (complete && ::fstat(fd, &status) == 0 && status.st_size > kJournalMaxBytes) rollOver(fd, path);
    ::close(fd);
    if (!complete) reportOnce(path, error);
    return complete;
}

}  // namespace nimbrel::platform::shell
