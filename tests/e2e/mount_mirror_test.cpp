// Mounting folders through a running sync-disk server, as the main client does it, and looking at
// the result the way a user would: nimbrel-cf for the sync roots, nimbrel-reg for the registry.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "ipc_session.h"

namespace nimbrel::test {
namespace {

const std::string kOk = "{\"code\":\"S_OK\"}\n";
const std::string kSyncRootKey =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SyncRootManager\\"
    "ROZIDAVIDOVODIDO!S-1-5-21-1481072562-3264209077-2825855657-1005!Account";
const std::string kClsidKey = "HKCU\\Software\\Classes\\CLSID\\{CBDE6239-084A-416F-826F-D7C264868D75}";

std::string windowsPath(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

struct Root {
    std::string path;
    std::string providerName;
    bool connected = false;
};

class MountMirrorTest : public testing::Test {
protected:
    // The server runs with `faults` as its fault-injection rules.
    void start(const std::string& faults = "") {
        ASSERT_TRUE(session_.startAnnounced(faults)) << session_.client().out() << session_.server().err();
    }

    std::string mount(const std::string& path) {
        return session_.send("mountMirror", "{\"mountPath\":\"" + path + "\"}").out;
    }
    std::string unmount(const std::string& path) {
        return session_.send("unmountMirror", "{\"mountPath\":\"" + path + "\"}").out;
    }

    std::vector<Root> roots() {
        CommandResult result = runCommand(session_.app() + "/nimbrel-cf", {"roots"});
        EXPECT_EQ(0, result.exitCode) << result.err;
        rapidjson::Document document;
        document.Parse(result.out.c_str());
        std::vector<Root> list;
        if (!document.IsArray()) return list;
        for (const auto& entry : document.GetArray()) {
            list.push_back(
                {entry["path"].GetString(), entry["providerName"].GetString(), entry["connected"].GetBool()});
        }
        return list;
    }
    std::optional<Root> root(const std::string& path) {
        for (const auto& entry : roots()) {
            if (entry.path == path) return entry;
        }
        return std::nullopt;
    }

    CommandResult reg(const std::vector<std::string>& args) {
        return runCommand(session_.app() + "/nimbrel-reg", args);
    }

    // Position of the last log line containing `fragment`, or npos.
    std::size_t lastInLog(const std::string& fragment) { return session_.serverLog().rfind(fragment); }

    IpcSession session_;
    std::string folder_ = makeScratchDir("root");
};

TEST_F(MountMirrorTest, AMountedFolderIsAConnectedRootOfThisServerWithItsShellIntegration) {
    start();
    EXPECT_EQ(kOk, mount(folder_));
    auto mounted = root(folder_);
    ASSERT_TRUE(mounted.has_value());
    EXPECT_EQ("RoziDavidoVodido", mounted->providerName);
    EXPECT_TRUE(mounted->connected);

    CommandResult userRoots = reg({"query", kSyncRootKey + "\\UserSyncRoots"});
    EXPECT_EQ(0, userRoots.exitCode);
    EXPECT_TRUE(contains(userRoots.out, "REG_SZ    " + windowsPath(folder_))) << userRoots.out;
    EXPECT_TRUE(
        contains(reg({"query", kSyncRootKey, "/v", "NamespaceCLSID"}).out, "{CBDE6239-084A-416F-826F-D7C264868D75}"));
    EXPECT_TRUE(contains(reg({"query", kClsidKey + "\\Instance\\InitPropertyBag", "/v", "TargetFolderPath"}).out,
                         windowsPath(folder_)));

    // Mounting again, this time with the tool's own command and a runtime state, changes nothing.
    CommandResult again = runCommand(session_.tool(), {"--mode", "1", "mount", folder_});
    EXPECT_EQ(kOk, again.out) << again.err;
    EXPECT_EQ(1u, roots().size());
    EXPECT_TRUE(root(folder_)->connected);
}

TEST_F(MountMirrorTest, StaleAndCorruptRootsWalkTheRecoveryLadder) {
    const std::string corrupt = makeScratchDir("corrupt");
    start("CfConnectSyncRoot@" + folder_ + "=0x8007017a*1;CfConnectSyncRoot@" + corrupt + "=0x8007016b");
    EXPECT_EQ(kOk, mount(folder_));
    EXPECT_TRUE(root(folder_)->connected);
    EXPECT_NE(std::string::npos, lastInLog("connectSyncRoot succeeded after disconnect/reconnect"));
    EXPECT_EQ(std::string::npos, lastInLog("Attempting full re-registration"));

    EXPECT_EQ("{\"code\":\"S_FAIL\",\"errorCode\":\"0x8007016b\",\"summary\":\"set root path err\"}\n", mount(corrupt));
    EXPECT_NE(std::string::npos, lastInLog("CMountMirrorMgr::_mount  Attempting full re-registration..."));
    EXPECT_NE(std::string::npos, lastInLog("connectSyncRoot failed after re-registration, hr =0x8007016b"));
    EXPECT_FALSE(root(corrupt)->connected);
}

TEST_F(MountMirrorTest, AFolderConnectedByAnotherServerCannotBeMounted) {
    // The mounted-space server of the same machine holds the folder.
    ChildProcess otherClient(session_.tool(), {"--mode", "0", "serve"});
    ChildProcess otherServer(session_.app() + "/ZedoziZevoro", {});
    ASSERT_TRUE(waitUntil([&] { return contains(otherClient.out(), "answered pushOnline"); })) << otherServer.err();
    CommandResult taken =
        runCommand(session_.tool(), {"--mode", "0", "send", "mountMirror", "{\"mountPath\":\"" + folder_ + "\"}"});
    ASSERT_EQ(kOk, taken.out) << taken.err;

    start();
    EXPECT_EQ("{\"code\":\"S_FAIL\",\"errorCode\":\"0x8007017a\",\"summary\":\"set root path err\"}\n", mount(folder_));
    EXPECT_NE(std::string::npos, lastInLog("connectSyncRoot failed, hr =0x8007017a, attempting recovery..."));
    EXPECT_NE(std::string::npos, lastInLog("connectSyncRoot failed after re-registration, hr =0x8007017a"));
    EXPECT_TRUE(root(folder_)->connected);
}

TEST_F(MountMirrorTest, ASlowUnregisterProtectsTheRootUntilItEnds) {
    start("CfUnregisterSyncRoot=0+4000");
    ASSERT_EQ(kOk, mount(folder_));
    EXPECT_EQ(kOk, unmount(folder_));
    EXPECT_EQ(kOk, mount(folder_));

    const std::string log = session_.serverLog();
    // The reply went out before the unmount gave up waiting for CfUnregisterSyncRoot.
    EXPECT_LT(log.find(" SUCCESS (operations continue in background)"),
              log.find(" CfUnregisterSyncRoot still running after"));
    EXPECT_TRUE(contains(log, "wait same sync root unregister before mount, path:" + folder_));
    EXPECT_LT(log.find("CfUnregisterSyncRoot succeeded in background"),
              log.find("same sync root unregister finished before mount"));
    auto mounted = root(folder_);
    ASSERT_TRUE(mounted.has_value());
    EXPECT_TRUE(mounted->connected);
}

TEST_F(MountMirrorTest, UnmountingTheLatestOfTwoRootsGivesTheShellIntegrationBackToTheOther) {
    const std::string latest = makeScratchDir("latest");
    start();
    ASSERT_EQ(kOk, mount(folder_));
    ASSERT_EQ(kOk, mount(latest));
    CommandResult unmounted = runCommand(session_.tool(), {"--mode", "1", "unmount", latest});
    EXPECT_EQ(kOk, unmounted.out) << unmounted.err;
    ASSERT_TRUE(waitUntil([&] { return !root(latest).has_value(); }));

    EXPECT_TRUE(waitUntil([&] {
        return contains(session_.serverLog(),
                        " Re-registered shell extensions after unmount for: " + windowsPath(folder_));
    }));
    // The shared shell integration stayed: only the last root's unmount removes it. The latest
    // root's entries went with it, and the root still mounted has its own back.
    EXPECT_TRUE(contains(session_.serverLog(), "ms skippedForActiveRoot:true"));
    EXPECT_TRUE(root(folder_).has_value());
    EXPECT_TRUE(contains(reg({"query", kSyncRootKey + "\\UserSyncRoots"}).out, windowsPath(folder_)));
    EXPECT_EQ(0, reg({"query", kClsidKey}).exitCode);
}

TEST_F(MountMirrorTest, AnotherSpellingOfTheMountedFolderUnmountsIt) {
    start();
    std::string upper;
    std::string backslashed;  // as JSON text
    for (char c : folder_) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        backslashed += c == '/' ? std::string("\\\\") : std::string(1, c);
    }
    for (const std::string& spelling : {folder_ + "/", backslashed + "\\\\", upper}) {
        ASSERT_EQ(kOk, mount(folder_));
        EXPECT_EQ(kOk, unmount(spelling));
        EXPECT_TRUE(waitUntil([&] { return !root(folder_).has_value(); })) << spelling;
        EXPECT_TRUE(waitUntil([&] {
            return reg({"query", kSyncRootKey + "\\UserSyncRoots"}).exitCode != 0;
        })) << spelling;
    }
}

TEST_F(MountMirrorTest, DisconnectAnswersEmptyAndCloseAnswersBeforeTheServerExits) {
    start();
    ASSERT_EQ(kOk, mount(folder_));
    CommandResult disconnected = session_.send("disconnectMirror", "{}");
    EXPECT_EQ(0, disconnected.exitCode) << disconnected.err;
    EXPECT_EQ("\n", disconnected.out);
    EXPECT_FALSE(root(folder_)->connected);

    ASSERT_EQ(kOk, mount(folder_));
    EXPECT_EQ(kOk, session_.send("closeZedoziZevoroExe", "{\"mountPath\":\"" + folder_ + "\"}").out);
    EXPECT_EQ(0, session_.server().wait());
    EXPECT_FALSE(root(folder_).has_value());
    EXPECT_TRUE(contains(session_.serverLog(), "onIpc  close mirror server exe,unmount mirror server success"));
}

}  // namespace
}  // namespace nimbrel::test
