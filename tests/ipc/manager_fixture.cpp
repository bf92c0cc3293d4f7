#include "manager_fixture.h"

#include <dlfcn.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QString>

#include "host/sync_virtual_config.h"
#include "ipc/service_ipc_manager.h"
#include "platform/fault_injection.h"
#include "support/test_env.h"

namespace nimbrel::test {

namespace {

class TestConfig : public CMountDiskConfig {
public:
    QString clientAppName(bool bare) override {
        QString name = QString::fromStdString(testClientName());
        return bare ? name.left(name.size() - 4) : name;
    }
};

}  // namespace

std::string testClientName() { return "nt" + std::to_string(getpid()) + ".exe"; }

void setProcessName(const std::string& name) { prctl(PR_SET_NAME, name.c_str(), 0, 0, 0); }

void installTestConfig() { g_syncConfig = std::make_shared<TestConfig>(); }

int TestClient::OnRequest(const char* ipcName, const std::wstring& text) {
    const auto lineBreak = text.find(L"\r\n");
    const std::string command = QString::fromStdWString(text.substr(0, lineBreak)).toStdString();
    const std::string body = lineBreak == std::wstring::npos
                                 ? std::string()
                                 : QString::fromStdWString(text.substr(lineBreak + 2)).toStdString();
    std::unique_lock<std::mutex> lock(mutex_);
    auto answer = answers_.find(command);
    const std::wstring reply = answer == answers_.end() ? std::wstring(L"{\"code\":\"S_OK\"}") : answer->second;
    lock.unlock();
    channel->reply(ipcName, reply);
    lock.lock();
    commands_.push_back(command);
    bodies_.push_back(body);
    changed_.notify_all();
    return 0;
}

void TestClient::setAnswer(const std::string& command, const std::wstring& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[command] = reply;
}

void TestClient::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.clear();
    commands_.clear();
    bodies_.clear();
}

std::vector<std::string> TestClient::commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<std::string> TestClient::bodies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bodies_;
}

void TestClient::waitForCommands(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return commands_.size() >= count; });
}

TestClient& ServiceIpcManagerTest::processClient() {
    static auto* client = new TestClient;
    return *client;
}

void ServiceIpcManagerTest::SetUp() {
    keepRuntimeDirForProcess();
    installTestConfig();
    setProcessName(testClientName());
    client_.reset();
    if (!client_.channel) {
        void* module = dlopen((appDir() + "/libipcmodule.so").c_str(), RTLD_NOW);
        ASSERT_NE(nullptr, module) << dlerror();
        auto create = reinterpret_cast<CreateIpcInterfaceFn>(dlsym(module, "CreateIpcInterface"));
        ASSERT_EQ(0, create(&client_.channel, &client_));
        CSyncVirtualConfig* config = syncConfig();
        const std::string receive = config->servicePluginChannel().toStdString();
        const std::string sendTo = config->pluginServiceChannel().toStdString();
        ASSERT_TRUE(client_.channel->start(receive.c_str(), sendTo.c_str()));
    }
    CServiceIpcManager::instance().startIpcService();
}

void ServiceIpcManagerTest::TearDown() {
    // The test's faults end with it; the roots it left mounted would be counted by every later test.
    platform::faults::clear();
    auto& manager = CServiceIpcManager::instance();
    for (const std::wstring& path : manager.mountedPathsCopy()) {
        QString errorText;
        bool running = false;
        manager.asyncUnMount(QString::fromStdWString(path).toStdString(), errorText, running);
    }
    EXPECT_TRUE(waitUntil([&] { return manager.mountedPathsCopy().empty(); })) << "a root stays mounted";
    // The liveness watch asks the client until the next test starts.
    client_.reset();
}

std::wstring ServiceIpcManagerTest::send(const std::wstring& text, int* result) {
    std::wstring reply;
    int code = client_.channel->request(text, reply);
    if (result) *result = code;
    return reply;
}

}  // namespace nimbrel::test
