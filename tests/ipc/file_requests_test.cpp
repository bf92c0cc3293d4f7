// The file-list requests of the context-menu actions, as the main client receives them.
#include <algorithm>

#include "ipc/manager_fixture.h"
#include "ipc/mirror_dedup_guard.h"
#include "ipc/service_ipc_manager.h"
#include "support/test_env.h"

namespace nimbrel::test {
namespace {

using FileRequestsTest = ServiceIpcManagerTest;

TEST_F(FileRequestsTest, EachRequestCarriesItsListAndSucceedsOnlyOnTheClientsSuccess) {
    auto& manager = CServiceIpcManager::instance();
    const QStringList paths{"\\data\\a.txt", "\\data\\b c"};
    const std::string list = R"({"filelist":["\\data\\a.txt","\\data\\b c"]})";
    EXPECT_TRUE(manager.requestKeepDevice(paths));
    EXPECT_TRUE(manager.requestHistoryFile(paths));
    client_.setAnswer("addToZiduZudu", L"{\"code\":\"S_FAIL\",\"errorCode\":\"1\",\"summary\":\"no\"}");
    EXPECT_FALSE(manager.requestAddToZiduZudu(paths));

    MirrorDedupGuard::instance().record("\\data\\a.txt", MirrorPushState{"id-a"}, 0);
    ASSERT_TRUE(MirrorDedupGuard::instance().lookup("\\data\\a.txt", MirrorPushState{"id-a"}).isDuplicate);
    EXPECT_TRUE(manager.requestReleaseSpace(paths));
    EXPECT_FALSE(MirrorDedupGuard::instance().lookup("\\data\\a.txt", MirrorPushState{"id-a"}).isDuplicate);

    client_.setAnswer("getFilesInfo",
                      LR"({"code":"S_OK","errorCode":"","summary":"","var":{"fileInfos":[)"
                      LR"({"id":"1","sid":"s1","filePath":"\\data","fileName":"a.txt","isVirtual":1,)"
                      LR"("type":1,"lUpdateTime":5,"size":7},{"id":"2","type":2}]}})");
    std::vector<ClientFileInfo> infos;
    EXPECT_TRUE(manager.requestFilesInfo(paths, &infos));
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].sid, "s1");
    EXPECT_EQ(infos[0].filePath + "\\" + infos[0].fileName, "\\data\\a.txt");
    EXPECT_EQ(infos[0].isVirtual, 1);
    EXPECT_EQ(infos[0].size, 7);
    EXPECT_EQ(infos[1].type, 2);

    std::vector<std::string> expected{"setKeepDevice", "setHistoryFile", "addToZiduZudu", "setReleaseSpace",
                                      "getFilesInfo"};
    // The client records a request just after answering it, so the last ones may still be on their way.
    ASSERT_TRUE(waitUntil([&] {
        auto commands = client_.commands();
        return std::all_of(expected.begin(), expected.end(), [&](const std::string& command) {
            return std::count(commands.begin(), commands.end(), command) == 1;
        });
    }));
    auto commands = client_.commands();
    auto bodies = client_.bodies();
    std::vector<std::string> sent;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (commands[i] == "checkOnline" || commands[i] == "pushOnline") continue;
        sent.push_back(commands[i]);
        EXPECT_EQ(bodies[i], list) << commands[i];
    }
    // Recorded after the reply, so two requests in a row may be recorded in either order.
    std::sort(sent.begin(), sent.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sent, expected);
}

}  // namespace
}  // namespace nimbrel::test
