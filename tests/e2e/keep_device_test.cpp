// The main client's keep-on-device, update-file and free-up commands against a running sync-disk
// server, checked with nimbrel-cf and by reading the files as an application would.
#include <gtest/gtest.h>

#include <QString>
#include <fstream>
#include <iterator>
#include <string>

#include "ipc_session.h"
#include "platform/windows.h"

namespace nimbrel::test {
namespace {

class KeepDeviceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session_.startAnnounced()) << session_.client().out() << session_.server().err();
        auto mounted = runCommand(session_.tool(), {"--mode", "1", "mount", root_});
        ASSERT_TRUE(contains(mounted.out, "\"S_OK\"")) << mounted.out << mounted.err;
    }
    std::string info(const std::string& name) {
        return runCommand(appDir() + "/nimbrel-cf", {"info", root_ + "/" + name}).out;
    }
    auto moveResult(const char* command, const std::string& source, const std::string& name) {
        return session_.send(command, "{\"sourcePath\":\"" + source + "\",\"destPath\":\"" + root_ + "/" + name +
                                          "\",\"id\":\"cloud-" + name + "\"}");
    }
    std::string move(const char* command, const std::string& source, const std::string& name) {
        return moveResult(command, source, name).out;
    }
    IpcSession session_;
    std::string root_ = makeScratchDir("root");
};

TEST_F(KeepDeviceTest, KeepAndUpdateReplaceContentWholeAndALockedDestinationKeepsTheConvertedDownload) {
    writeFile(root_ + "/doc.txt", "local bytes");
    EXPECT_TRUE(contains(move("pushKeepOnDevice", "", "doc.txt"), R"("ret":0}],"code":"S_OK")"));
    std::string state = info("doc.txt");
    for (const char* fact : {R"("placeholder":true)", R"("identity":"cloud-doc.txt")", R"("pinState":"pinned")",
                             R"("inSync":true)", R"("hydrated":true)", R"("size":11)"}) {
        EXPECT_TRUE(contains(state, fact)) << fact << " in " << state;
    }

    std::ifstream reader(root_ + "/doc.txt", std::ios::binary);
    writeFile(root_ + "/.doc.txt.download", "newer version of the bytes");
    EXPECT_TRUE(contains(move("pushUpdateFile", root_ + "/.doc.txt.download", "doc.txt"), R"("ret":0})"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), "local bytes");
    EXPECT_EQ(readFile(root_ + "/doc.txt"), "newer version of the bytes");
    EXPECT_TRUE(contains(info("doc.txt"), R"("identity":"cloud-doc.txt")"));

    // An application holds the file without delete sharing, as Windows applications do.
    const std::wstring held = QString::fromStdString(root_ + "/doc.txt").toStdWString();
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    writeFile(root_ + "/.doc.txt.second", "third");
    const auto refused = moveResult("pushUpdateFile", root_ + "/.doc.txt.second", "doc.txt");
    EXPECT_TRUE(contains(refused.out, R"("ret":1}],"code":"S_FAIL")")) << refused.out;
    // The tool says which item was refused.
    EXPECT_TRUE(contains(refused.err, "1 of 1 items refused, first " + root_ + "/doc.txt (ret 1)")) << refused.err;
    CloseHandle(holder);
    EXPECT_EQ(readFile(root_ + "/doc.txt"), "newer version of the bytes");
    state = info(".doc.txt.second");
    EXPECT_TRUE(contains(state, R"("placeholder":true)") && contains(state, R"("identity":"cloud-doc.txt")")) << state;
}

TEST_F(KeepDeviceTest, MalformedBodiesAreRefusedAndTransientNamesLeftAlone) {
    const std::string common = "CClientIpcManager::onIpcLogonAccount return failed";
    const struct {
        const char* command;
        std::string body;
        std::string summary;
    } refused[] = {
        {"pushKeepOnDevice", R"({"destPath":5})", common},
        {"pushUpdateFile", "[1]", common},
        {"pushFreeUpSpace", "{{", common},
        {"setSyncToLocalPinState", R"({"filePath":"/x","state":"1"})",
         "CClientIpcManager::onSetSyncToLocalPinState return failed"},
    };
    for (const auto& request : refused) {
        EXPECT_EQ(session_.send(request.command, request.body).out,
                  R"({"code":"S_FAIL","errorCode":"301","summary":")" + request.summary + "\"}\n")
            << request.command;
    }
    writeFile(root_ + "/1A2B3C4D", "editor temp");
    EXPECT_EQ(session_.send("pushFreeUpSpace", "{\"filePath\":\"" + root_ + "/1A2B3C4D\",\"id\":\"t\"}").out,
              "{\"code\":\"S_OK\"}\n");
    EXPECT_TRUE(contains(info("1A2B3C4D"), R"("placeholder":false)"));
    EXPECT_EQ(readFile(root_ + "/1A2B3C4D"), "editor temp");
    EXPECT_TRUE(session_.server().running());
}

}  // namespace
}  // namespace nimbrel::test
