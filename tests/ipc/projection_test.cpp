// The projection commands as the main client sends them over the channel into a mounted root,
// checked on disk and through the placeholders' Cloud Files state.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <cstdlib>

#include "cfapi/cf_api_wrapper.h"
#include "ipc/mirror_dedup_guard.h"
#include "ipc/service_ipc_manager.h"
#include "manager_fixture.h"
#include "platform/fault_injection.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace nimbrel::test {
namespace {

namespace faults = platform::faults;

const char* const kMutatingCalls[] = {"CfCreatePlaceholders", "CfConvertToPlaceholder", "CfUpdatePlaceholder",
                                      "CfSetPinState", "CfSetInSyncState"};

int mutatingCalls() {
    int total = 0;
    for (const char* name : kMutatingCalls) total += faults::callCount(name);
    return total;
}

// One file-info record; `folder` and `name` go into "filePath"/"fileName", or the full path into
// "filePath" when `name` is null.
std::string record(const std::string& folder, const char* name, const std::string& id, int type, int isVirtual,
                   long long size, const std::string& extra = "") {
    std::string text = "{\"id\":\"" + id + "\",\"filePath\":\"" + folder + "\",";
    if (name) text += "\"fileName\":\"" + std::string(name) + "\",";
    return text + "\"type\":" + std::to_string(type) + ",\"isVirtual\":" + std::to_string(isVirtual) +
           ",\"size\":" + std::to_string(size) +
           ",\"lCreateTime\":1600000000,\"lUpdateTime\":1600000100,\"lAccessTime\":1600000200" + extra + "}";
}

// The same record with its size given as a text.
std::string mistyped(std::string text) {
    const auto size = text.find("\"size\":");
    text.insert(text.find(',', size), "\"");
    return text.insert(size + 7, "\"");
}

class ProjectionTest : public ServiceIpcManagerTest {
protected:
    void SetUp() override {
        ServiceIpcManagerTest::SetUp();
        ASSERT_EQ(L"{\"code\":\"S_OK\"}",
                  send(QString::fromStdString("mountMirror\r\n{\"mountPath\":\"" + root_ + "\"}").toStdWString()));
    }
    std::string push(const std::string& command, const std::string& body) {
        return QString::fromStdWString(send(QString::fromStdString(command + "\r\n" + body).toStdWString()))
            .toStdString();
    }
    std::string pushFileSystem(const std::vector<std::string>& records) {
        std::string body = "{\"fileInfo\":[";
        for (std::size_t i = 0; i < records.size(); ++i) body += (i ? "," : "") + records[i];
        return push("pushFileSystem", body + "]}");
    }
    // The reply the client gets for its items, each path with its result, in this order.
    static std::string itemsReply(const char* command, const std::vector<std::pair<std::string, int>>& items) {
        std::string text = std::string("{\"funcName\":\"") + command + "\",\"fileInfo\":[";
        bool failed = false;
        for (const auto& [path, ret] : items) {
            text += (text.back() == '[' ? "" : ",") + std::string("{\"filePath\":\"") + path +
                    "\",\"ret\":" + std::to_string(ret) + "}";
            failed = failed || ret;
        }
        return text + "],\"code\":\"" + (failed ? "S_FAIL" : "S_OK") + "\"}";
    }
    static std::string itemReply(const char* command, const std::string& path, int ret) {
        return itemsReply(command, {{path, ret}});
    }
    static PlaceholderInfo info(const std::string& path) {
        return CfApiWrapper::findPlaceholderInfo(QString::fromStdString(path));
    }
    static bool exists(const std::string& path) { return QFileInfo::exists(QString::fromStdString(path)); }

    std::string root_ = makeScratchDir("root");
};

TEST_F(ProjectionTest, PushFileSystemAnswersEveryItemOnceInPathOrder) {
    const std::string docs = root_ + "/Docs";
    const std::string reply = pushFileSystem({
        record(root_, "Docs", "10", 2, 1, 0),
        record(docs, "b.txt", "12", 1, 1, 70000),
        record(docs, "a b ü.txt", "11", 1, 1, 5),
        record(docs, "0A1B2C3D", "13", 1, 1, 5),
        record(root_, "0A1B2C3D", "14", 2, 1, 0),
        record(docs, "gone.txt", "-1", 1, 1, 5),
        record(docs, ".x.hardlink_repair.TMP", "15", 1, 1, 5),
        record(docs, "bad.txt", "16", 1, 1, 5),
        mistyped(record(docs, "bad.txt", "16", 1, 1, 5)),
    });
    const std::string inDocs = docs + "\\\\";
    EXPECT_EQ(itemsReply("pushFileSystem", {{inDocs + ".x.hardlink_repair.TMP", 0},
                                            {inDocs + "0A1B2C3D", 0},
                                            {inDocs + "a b ü.txt", 0},
                                            {inDocs + "b.txt", 0},
                                            {inDocs + "bad.txt", 1},
                                            {inDocs + "gone.txt", 0},
                                            {root_ + "\\\\0A1B2C3D", 0},
                                            {root_ + "\\\\Docs", 0}}),
              reply);

    // The transient name, the repair copy and the vanished local-only item leave nothing behind.
    // That files arrive online-only with their sizes and no data the end-to-end projection shows;
    // only this record's times tell the pushed write time from the other two.
    EXPECT_EQ((QStringList{"0A1B2C3D", "Docs"}),
              QDir(QString::fromStdString(root_)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries));
    EXPECT_EQ((QStringList{"a b ü.txt", "b.txt", "bad.txt"}),
              QDir(QString::fromStdString(docs)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries));
    struct stat file {};
    ASSERT_EQ(0, stat((docs + "/b.txt").c_str(), &file));
    EXPECT_EQ(1600000100, file.st_mtime);
    PlaceholderInfo placeholder = info(docs + "/b.txt");
    ASSERT_TRUE(placeholder);
    EXPECT_EQ(CF_IN_SYNC_STATE_IN_SYNC, placeholder->InSyncState);
    EXPECT_EQ(QString("12"), placeholder.identityText());
}

// Every item pins the folders above it, also after an earlier item of the same batch changed one.
TEST_F(ProjectionTest, AFolderExcludedInABatchIsPinnedAgainByTheItemsAfterIt) {
    pushFileSystem({record(root_, "f", "1", 2, 1, 0), record(root_ + "/f", "a.txt", "2", 1, 1, 5),
                    record(root_, "f", "-1", 2, 0, 0), record(root_ + "/f", "b.txt", "3", 1, 1, 5)});
    ASSERT_TRUE(info(root_ + "/f"));
    EXPECT_EQ(CF_PIN_STATE_PINNED, info(root_ + "/f")->PinState);
    ASSERT_TRUE(info(root_ + "/f/b.txt"));
    EXPECT_EQ(CF_PIN_STATE_UNPINNED, info(root_ + "/f/b.txt")->PinState);
}

// Each new file costs its creation, two pin changes and the dehydration; of the placeholders, only
// the folder's pin state is read, once for the whole batch. The same batch again changes nothing
// and reads each file once, and the folder once.
TEST_F(ProjectionTest, NewFilesOfABatchAreNotReadBack) {
    pushFileSystem({record(root_, "f", "1", 2, 1, 0)});
    faults::resetCallCounts();
    const std::vector<std::string> batch = {record(root_ + "/f", "a.txt", "12", 1, 1, 5),
                                            record(root_ + "/f", "b.txt", "13", 1, 0, 5)};
    pushFileSystem(batch);
    const std::pair<const char*, int> calls[] = {
        {"CfCreatePlaceholders", 2}, {"CfSetPinState", 4}, {"CfUpdatePlaceholder", 2}, {"CfGetPlaceholderInfo", 1}};
    for (const auto& [name, count] : calls) EXPECT_EQ(count, faults::callCount(name)) << name;
    faults::resetCallCounts();
    pushFileSystem(batch);
    EXPECT_EQ(0, mutatingCalls());
    EXPECT_EQ(3, faults::callCount("CfGetPlaceholderInfo"));
    // Without data on the disk the file that should stay local cannot be pinned either.
    for (const char* name : {"/f/a.txt", "/f/b.txt"}) {
        ASSERT_TRUE(info(root_ + name));
        EXPECT_EQ(CF_PIN_STATE_UNPINNED, info(root_ + name)->PinState) << name;
    }
}

TEST_F(ProjectionTest, LocalOnlyItemsAndPathsOutsideTheRoot) {
    const std::string outside = makeScratchDir("outside");
    writeFile(outside + "/kept.txt", "abc");
    writeFile(root_ + "/local.txt", "abc");
    faults::resetCallCounts();
    EXPECT_EQ(itemReply("pushFileSystem", root_ + "\\\\none.txt", 0),
              pushFileSystem({record(root_, "none.txt", "-1", 1, 0, 3)}));
    EXPECT_EQ(0, mutatingCalls());

    // An existing local-only file is converted and excluded; nothing outside the root changes.
    pushFileSystem({record(root_, "local.txt", "-1", 1, 0, 3), record(outside, "new.txt", "20", 1, 1, 3),
                    record(outside, "kept.txt", "21", 1, 0, 3)});
    ASSERT_TRUE(info(root_ + "/local.txt"));
    EXPECT_EQ(CF_PIN_STATE_EXCLUDED, info(root_ + "/local.txt")->PinState);
    EXPECT_FALSE(exists(outside + "/new.txt"));
    EXPECT_FALSE(info(outside + "/kept.txt"));
    EXPECT_EQ("abc", readFile(outside + "/kept.txt"));
}

TEST_F(ProjectionTest, BadBodiesAreRefusedAndTheServerKeepsServing) {
    const std::string notJson =
        "{\"code\":\"S_FAIL\",\"errorCode\":\"301\",\"summary\":"
        "\"CClientIpcManager::onIpcLogonAccount return failed\"}";
    const std::string longName(5000, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"pushFileSystem\r\n{not json", notJson},
        {"pushFileSystem\r\n{\"fileInfo\":{}}", notJson},
        {"pushFileStatus\r\n[", notJson},
        {"pushFileAdd\r\n[", notJson},
        {"updateSyncState\r\nnope", notJson},
        {"pushFileAdd\r\n" + mistyped(record(root_ + "/x.txt", nullptr, "1", 1, 1, 3)),
         itemReply("pushFileAdd", root_ + "/x.txt", 1)},
        {"pushFileStatus\r\n{\"id\":\"1\"}", itemReply("pushFileStatus", "\\\\", 1)},
        {"pushFileSystem\r\n{\"fileInfo\":[7]}", itemReply("pushFileSystem", "\\\\", 1)},
        {"pushFileSystem\r\n{\"fileInfo\":[" + record(root_, longName.c_str(), "2", 1, 1, 3) + "]}",
         itemReply("pushFileSystem", root_ + "\\\\" + longName, 0)},
    };
    for (const auto& [request, reply] : cases) {
        const auto lineBreak = request.find("\r\n");
        EXPECT_EQ(reply, push(request.substr(0, lineBreak), request.substr(lineBreak + 2))) << request.substr(0, 80);
    }
    EXPECT_EQ(QStringList(), QDir(QString::fromStdString(root_)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries));
    EXPECT_EQ(itemReply("pushFileSystem", root_ + "\\\\*?<>|", 0),
              pushFileSystem({record(root_, "*?<>|", "3", 1, 1, 3)}));
}

TEST_F(ProjectionTest, PushFileAddSkipsACompleteDuplicateAndProjectsAnIncompleteOneAgain) {
    const std::string path = root_ + "/solid.txt";
    writeFile(path, "hello");
    // The manager and the guard count for the whole process.
    const auto& manager = CServiceIpcManager::instance();
    const std::uint64_t projected = manager.pushFileAddCfapi();
    const std::uint64_t skipped = manager.pushFileAddSkipped();
    const std::size_t remembered = MirrorDedupGuard::instance().size();
    const std::string body = record(path, nullptr, "30", 1, 0, 5, ",\"status\":3");
    ASSERT_EQ(itemReply("pushFileAdd", path, 0), push("pushFileAdd", body));
    ASSERT_TRUE(info(path));
    EXPECT_EQ(CF_PIN_STATE_PINNED, info(path)->PinState);
    EXPECT_EQ(remembered + 1, MirrorDedupGuard::instance().size());

    faults::resetCallCounts();
    EXPECT_EQ(itemReply("pushFileAdd", path, 0), push("pushFileAdd", body));
    EXPECT_EQ(0, mutatingCalls());
    EXPECT_EQ(skipped + 1, manager.pushFileAddSkipped());

    // Freed up in between: the same push is a real projection again, and pins the file.
    ASSERT_TRUE(CfApiWrapper::setPinState(QString::fromStdString(path), PinState::OnlineOnly, PinRecursionNone));
    ASSERT_EQ(0, CfApiWrapper::dehydratePlaceholder(QString::fromStdString(path), 5, "30"));
    EXPECT_EQ(itemReply("pushFileAdd", path, 0), push("pushFileAdd", body));
    EXPECT_EQ(projected + 2, manager.pushFileAddCfapi());
    EXPECT_EQ(skipped + 1, manager.pushFileAddSkipped());
}

// Routine records show up only as the summary, the first one of a process at once: so the push
// runs in a process of its own.
TEST_F(ProjectionTest, AProcesssFirstRoutineRecordIsSummarisedAtOnce) {
    const std::string path = root_ + "/first.txt";
    writeFile(path, "hello");
    EXPECT_EXIT(
        {
            LogCapture log;
            push("pushFileAdd", record(path, nullptr, "31", 1, 0, 5, ",\"status\":3"));
            const char* summary = "[mirror-log-summary] events:1 sample:[service_ipc_manager_push_file_add.cpp:";
            // The record is written when its handler ends, which may be just after the reply.
            const bool once = waitUntil([&] { return log.count(summary) > 0; }) && log.count(summary) == 1;
            std::_Exit(once ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(ProjectionTest, PushFileAddInTheUploadQueueOrWithAChangedPreservedFile) {
    const std::string queued = root_ + "/queued.txt";
    const std::string preserved = root_ + "/preserved.txt";
    writeFile(queued, "abc");
    writeFile(preserved, "local text");
    const std::size_t remembered = MirrorDedupGuard::instance().size();
    LogCapture log;
    EXPECT_EQ(itemReply("pushFileAdd", queued, 0),
              push("pushFileAdd", record(queued, nullptr, "40", 1, 0, 3, ",\"bInUpQueue\":true")));
    ASSERT_TRUE(info(queued));
    EXPECT_EQ(CF_IN_SYNC_STATE_NOT_IN_SYNC, info(queued)->InSyncState);
    EXPECT_EQ(CF_PIN_STATE_UNSPECIFIED, info(queued)->PinState);
    EXPECT_EQ(remembered, MirrorDedupGuard::instance().size());

    EXPECT_EQ(itemReply("pushFileAdd", preserved, 1),
              push("pushFileAdd", record(preserved, nullptr, "41", 1, 0, 3, ",\"preserveNativeFileTime\":true")));
    EXPECT_FALSE(info(preserved));
    EXPECT_EQ("local text", readFile(preserved));
    EXPECT_EQ(1, log.count("[ziduzudu-preserve-native-time] reject changed local projection path:"));
    // A folder ignores the flag.
    QDir().mkpath(QString::fromStdString(root_ + "/dir"));
    EXPECT_EQ(itemReply("pushFileAdd", root_ + "/dir", 0),
              push("pushFileAdd", record(root_ + "/dir", nullptr, "42", 2, 0, 0, ",\"preserveNativeFileTime\":true")));
}

TEST_F(ProjectionTest, PushFileStatusAndUpdateSyncState) {
    EXPECT_EQ(itemReply("pushFileStatus", root_ + "\\\\s.txt", 0),
              push("pushFileStatus", record(root_, "s.txt", "50", 1, 1, 9)));
    ASSERT_TRUE(info(root_ + "/s.txt"));
    EXPECT_EQ(CF_PIN_STATE_UNPINNED, info(root_ + "/s.txt")->PinState);

    EXPECT_EQ("{\"code\":\"S_OK\"}", push("updateSyncState", "{\"filePath\":\"" + root_ + "/s.txt\",\"state\":0}"));
    EXPECT_EQ(CF_IN_SYNC_STATE_NOT_IN_SYNC, info(root_ + "/s.txt")->InSyncState);
    EXPECT_EQ("{\"code\":\"S_OK\"}", push("updateSyncState", "{\"filePath\":\"" + root_ + "/none\",\"state\":1}"));
}

}  // namespace
}  // namespace nimbrel::test
