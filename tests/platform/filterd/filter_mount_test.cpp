// Real programs against a sync root covered by nimbrel-cfd, with cf_test_provider as the provider.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>

#include "cf_covered.h"
#include "cf_filter_service.h"
#include "cf_item.h"
#include "cf_test_support.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

namespace pcf = nimbrel::platform::cf;

bool isMounted(const std::string& path) {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        if (line.find(" " + path + " ") != std::string::npos) return true;
    }
    return false;
}

CommandResult shell(const std::string& command) { return runCommand("/bin/sh", {"-c", command}); }

class FilterMount : public ProviderProcessTest {
protected:
    void SetUp() override {
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            GTEST_SKIP() << "no /dev/fuse here: the filter mount is not tested";
        // The root was registered before the service was turned on: it covers the root when it starts.
        ::setenv("NIMBREL_CFD", NIMBREL_CFD_PATH, 1);
        ASSERT_TRUE(nimbrel::platform::cf::ensureFilterService());
        ASSERT_TRUE(waitUntil([&] { return isMounted(root); }));
    }

    // The suite never leaves a mount or a service behind, whatever the test did.
    void TearDown() override {
        if (root.empty()) return;
        nimbrel::platform::cf::filterServiceCommand("stop");
        if (pid_t service = nimbrel::platform::cf::filterServicePid()) ::kill(service, SIGKILL);
        if (isMounted(root)) ::umount2(root.c_str(), MNT_DETACH);
        EXPECT_FALSE(isMounted(root));
    }

    bool hydrated(const std::string& name) { return info(root + "/" + name)[0]["hydrated"].GetBool(); }
};

TEST_F(FilterMount, ProgramsReadTheCloudBytesOfDehydratedPlaceholders) {
    struct Case {
        const char* name;
        std::size_t size;
        std::string command;  // $1: the file, $2: a path outside the root; prints what the program read
        std::size_t from, length;
    };
    const std::vector<Case> cases = {
        {"cat.bin", 8u << 20, "cat $1", 0, 8u << 20},
        {"head.bin", 100000, "head -c 10 $1", 0, 10},
        {"dd.bin", 70000, "dd if=$1 bs=4096 skip=3 count=2 status=none", 3 * 4096, 2 * 4096},
        {"cp.bin", 300000, "cp $1 $2 && cat $2", 0, 300000},
        {"mmap.bin", 50000,
         "python3 -c 'import mmap,sys; f=open(sys.argv[1],\"rb\"); m=mmap.mmap(f.fileno(),0,access=mmap.ACCESS_READ); "
         "sys.stdout.buffer.write(m[1000:3000])' $1",
         1000, 2000},
    };
    auto provider = startProvider("serve", "65536");
    const std::string out = makeScratchDir("out");
    for (const auto& c : cases) {
        const std::string content = cloudFile(c.name, c.size);
        ASSERT_FALSE(hydrated(c.name));
        auto result = runCommand("/bin/sh", {"-c", c.command, "sh", root + "/" + c.name, out + "/" + c.name});
        EXPECT_EQ(result.exitCode, 0) << c.name << ": " << result.err;
        EXPECT_TRUE(result.out == content.substr(c.from, c.length)) << c.name;
        EXPECT_TRUE(hydrated(c.name)) << c.name;
    }
    // Each fetch names the reading program, not the service that asked for it.
    EXPECT_NE(provider->out().find("\\cat\n"), std::string::npos) << provider->out();
    EXPECT_NE(provider->out().find("\\python3"), std::string::npos) << provider->out();
}

TEST_F(FilterMount, ListingAndStatusQueriesHydrateNothing) {
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i) cloudFile("f" + std::to_string(i), 5000);
    auto provider = startProvider("serve", "65536");
    auto listed = shell("ls -ls " + root + " && find " + root + " -type f -size +1k | wc -l && stat " + root + "/f7");
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("0 -rw"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\n" + std::to_string(kFiles) + "\n"), std::string::npos) << listed.out;
    EXPECT_EQ(provider->out().find("served"), std::string::npos) << provider->out();
    EXPECT_FALSE(hydrated("f7"));
}

TEST_F(FilterMount, ReadersSeeTheProvidersChangesAtOnce) {
    const std::string content = cloudFile("d.bin", 40000);
    auto provider = startProvider("serve", "65536");
    ASSERT_TRUE(shell("cat " + root + "/d.bin").out == content);
    {
        Handle handle(root + "/d.bin", GENERIC_READ | GENERIC_WRITE);
        ASSERT_EQ(updateFlags(handle.get(), CF_UPDATE_FLAG_MARK_IN_SYNC | CF_UPDATE_FLAG_DEHYDRATE), S_OK);
    }
    EXPECT_EQ(shell("stat -c %b " + root + "/d.bin").out, "0\n");
    // The pages the first read left in the kernel are gone: the next read fetches again.
    EXPECT_TRUE(shell("cat " + root + "/d.bin").out == content);
    EXPECT_TRUE(waitUntil([&] {
        const std::string out = provider->out();
        return out.find("served d.bin") != out.rfind("served d.bin");
    })) << provider->out();
    // New metadata from the cloud replaces what the kernel cached a moment ago.
    ASSERT_EQ(shell("stat -c '%s %Y' " + root + "/d.bin").out, "40000 1555526400\n");
    CF_FS_METADATA metadata{};
    metadata.FileSize.QuadPart = 30000;
    metadata.BasicInfo.LastWriteTime.QuadPart = 133000000000000000LL;
    ASSERT_EQ(updateMetadata(root + "/d.bin", metadata), S_OK);
    EXPECT_EQ(shell("stat -c '%s %Y' " + root + "/d.bin").out, "30000 1655526400\n");
}

TEST_F(FilterMount, TheNextOpenKeepsThePagesReadAfterAFetch) {
    const std::string content = cloudFile("kept.bin", 300000);
    auto provider = startProvider("serve", "65536");
    ASSERT_TRUE(shell("cat " + root + "/kept.bin").out == content);
    // An open that dropped the file's pages leaves none of them resident.
    const int fd = ::open((root + "/kept.bin").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    void* map = ::mmap(nullptr, content.size(), PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((content.size() + page - 1) / page);
    EXPECT_EQ(::mincore(map, content.size(), resident.data()), 0);
    EXPECT_GT(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }),
              static_cast<std::ptrdiff_t>(resident.size() / 2));
    ::munmap(map, content.size());
    ::close(fd);
}

TEST_F(FilterMount, TheProvidersOwnReadsOfMissingDataNeverReachOtherReaders) {
    const std::string content = cloudFile("p.bin", 40000);
    auto provider = startProvider("peek", "65536");
    // An open tells the provider, which then reads the dehydrated file through the mount itself.
    shell(": < " + root + "/p.bin");
    ASSERT_TRUE(waitUntil([&] { return provider->out().find("peeked p.bin") != std::string::npos; }))
        << provider->out();
    EXPECT_TRUE(shell("cat " + root + "/p.bin").out == content) << provider->out();
}

TEST_F(FilterMount, AListingAfterAFullOneShowsWhatChangedUnderTheKernel) {
    cloudFile("kept.bin", 5000);
    cloudFile("resized.bin", 5000);
    auto provider = startProvider("serve", "65536");
    int covered = -1;
    ASSERT_TRUE(nimbrel::platform::cf::filterServiceCommand("covered " + root, &covered));
    const std::string folder = "/proc/self/fd/" + std::to_string(covered);
    const std::string list = "find " + root + " -type f -printf '%f %s\\n' | sort";
    ASSERT_EQ(shell(list).out, "kept.bin 5000\nresized.bin 5000\n");
    // Each change is made beside the kernel: a new placeholder, a file swapped in the covered
    // folder, new metadata from the cloud.
    ASSERT_EQ(createPlaceholder(root, "new.bin", 3000, identityOf(u"new.bin")), S_OK);
    EXPECT_EQ(shell(list).out, "kept.bin 5000\nnew.bin 3000\nresized.bin 5000\n");
    writeFile(folder + "/swap.tmp", "swapped");
    ASSERT_EQ(::rename((folder + "/swap.tmp").c_str(), (folder + "/kept.bin").c_str()), 0);
    EXPECT_EQ(shell(list).out, "kept.bin 7\nnew.bin 3000\nresized.bin 5000\n");
    CF_FS_METADATA metadata{};
    metadata.FileSize.QuadPart = 1234;
    ASSERT_EQ(updateMetadata(root + "/resized.bin", metadata), S_OK);
    EXPECT_EQ(shell(list).out, "kept.bin 7\nnew.bin 3000\nresized.bin 1234\n");
    ::close(covered);
}

TEST_F(FilterMount, TheServiceAnswersWhileAReaderWaitsForTheFileItIsToldChanged) {
    cloudFile("waiting.bin", 20000);
    // The fetch outlasts the service's answer time: an answer that waited for it would come too late.
    auto provider = startProvider("silent", "0", {{{"NIMBREL_CF_FETCH_TIMEOUT_MS", "600000"}}, "", ""});
    ChildProcess reader("/bin/cat", {root + "/waiting.bin"});
    ASSERT_TRUE(waitUntil([&] { return provider->out().find("fetch waiting.bin") != std::string::npos; }))
        << provider->out();
    // The reader's kernel holds the pages it waits for: dropping them has to wait for the fetch.
    EXPECT_TRUE(nimbrel::platform::cf::filterServiceCommand("changed " + root + "/waiting.bin"));
    int covered = -1;
    EXPECT_TRUE(nimbrel::platform::cf::filterServiceCommand("covered " + root, &covered));
    EXPECT_TRUE(reader.running());
    ::close(covered);
}

TEST_F(FilterMount, WithoutProviderReadsFailAndDehydratedFilesStayDehydrated) {
    cloudFile("cloud.bin", 20000);
    ASSERT_EQ(localPlaceholder(root + "/local.txt", "here"), S_OK);
    auto failed = shell("cat " + root + "/cloud.bin");
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_NE(failed.err.find("Input/output error"), std::string::npos) << failed.err;
    EXPECT_TRUE(failed.out.empty());
    EXPECT_FALSE(hydrated("cloud.bin"));
    auto local = shell("cat " + root + "/local.txt");
    EXPECT_EQ(local.exitCode, 0) << local.err;
    EXPECT_EQ(local.out, "here");
}

// What a machine that stopped may keep of a placeholder of an earlier build: its name and the
// token naming its record, not the record. Such a file never reads as zeros; converting it again
// (as the next projection does) makes it readable.
TEST_F(FilterMount, AFileWithATokenButNoRecordFailsToReadUntilItIsConvertedAgain) {
    struct Case {
        std::string name;
        std::string content;  // what reads after the conversion
        bool hydrated;
    };
    const std::string token = "0123456789abcdef0123456789abcdef";
    const Case lost{"lost.bin", cloudFile("lost.bin", 30000), false};
    const Case forged{"forged.txt", "mine", true};
    writeFile(root + "/forged.txt", forged.content);
    for (const Case& c : {lost, forged}) {
        const std::string covered = pcf::directPath(root + "/" + c.name);
        ASSERT_EQ(::setxattr(covered.c_str(), pcf::kRecordAttribute, token.data(), token.size(), 0), 0);
    }
    auto provider = startProvider("serve", "65536");
    for (const Case& c : {lost, forged}) {
        const std::string path = root + "/" + c.name;
        auto failed = shell("cat " + path);
        EXPECT_NE(failed.exitCode, 0) << c.name;
        EXPECT_NE(failed.err.find("Input/output error"), std::string::npos) << c.name << ": " << failed.err;
        EXPECT_TRUE(failed.out.empty()) << c.name;
        {
            Handle handle(path);
            const std::string identity = identityOf(std::u16string(c.name.begin(), c.name.end()));
            ASSERT_EQ(CfConvertToPlaceholder(handle.get(), identity.data(), static_cast<DWORD>(identity.size()),
                                             CF_CONVERT_FLAG_MARK_IN_SYNC, nullptr, nullptr),
                      S_OK)
                << c.name;
        }
        EXPECT_EQ(hydrated(c.name), c.hydrated) << c.name;
        auto read = shell("cat " + path);
        EXPECT_EQ(read.exitCode, 0) << c.name << ": " << read.err;
        EXPECT_TRUE(read.out == c.content) << c.name;
    }
}

TEST_F(FilterMount, AppendingHydratesFirstAndClearsInSync) {
    const std::string content = cloudFile("a.txt", 6000);
    auto provider = startProvider("serve", "4096");
    auto appended = shell("echo x >> " + root + "/a.txt");
    ASSERT_EQ(appended.exitCode, 0) << appended.err;
    EXPECT_EQ(readFile(root + "/a.txt"), content + "x\n");
    auto document = info(root + "/a.txt");
    EXPECT_TRUE(document[0]["hydrated"].GetBool());
    EXPECT_FALSE(document[0]["inSync"].GetBool()) << document[0]["inSync"].GetBool();
}

TEST_F(FilterMount, AFileIsReachedByTheNamesItStillHasAfterLinksRenamesAndRemovals) {
    auto result = shell("cd " + root +
                        " && mkdir d && echo one > d/a && ln d/a b && cat b && rm b && cat d/a && mv d e && cat e/a"
                        " && echo two > e/c && mv e/a e/c && cat e/c && ls e");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "one\none\none\none\nc\n");
}

TEST_F(FilterMount, TheTokenAttributeCannotBeSeenOrForged) {
    cloudFile("p.bin", 100);
    writeFile(root + "/plain.txt", "plain");
    // One line per file and call: what it answered, or the error it failed with.
    const std::string script = R"(import os, sys, errno
for p in sys.argv[1:]:
    for call in (lambda: os.getxattr(p, 'user.nimbrel.cf'), lambda: os.setxattr(p, 'user.nimbrel.cf', b'forged'),
                 lambda: os.removexattr(p, 'user.nimbrel.cf'), lambda: 'user.nimbrel.cf' in os.listxattr(p)):
        try:
            print(call())
        except OSError as e:
            print(errno.errorcode[e.errno])
)";
    auto result = runCommand(
        "/bin/sh", {"-c", "exec python3 -c \"$0\" \"$1\" \"$2\"", script, root + "/p.bin", root + "/plain.txt"});
    EXPECT_EQ(result.out, "ENODATA\nEPERM\nEPERM\nFalse\nENODATA\nEPERM\nEPERM\nFalse\n") << result.err;
    EXPECT_TRUE(info(root + "/p.bin")[0]["placeholder"].GetBool());
    EXPECT_FALSE(info(root + "/plain.txt")[0]["placeholder"].GetBool());
}

TEST_F(FilterMount, AKilledServiceIsRemountedByTheNextStartWithNothingLost) {
    const std::string content = cloudFile("keep.bin", 10000);
    ASSERT_EQ(localPlaceholder(root + "/mine.txt", "mine"), S_OK);
    ASSERT_EQ(::kill(nimbrel::platform::cf::filterServicePid(), SIGKILL), 0);
    ASSERT_TRUE(waitUntil([] { return nimbrel::platform::cf::filterServicePid() == 0; }));
    EXPECT_NE(shell("ls " + root).exitCode, 0);  // the left-over mount answers ENOTCONN

    ChildProcess restarted(NIMBREL_CFD_PATH, {});
    ASSERT_TRUE(waitUntil([&] { return shell("ls " + root).exitCode == 0; })) << restarted.err();
    auto provider = startProvider("serve", "4096");
    EXPECT_EQ(readFile(root + "/mine.txt"), "mine");
    EXPECT_TRUE(readFile(root + "/keep.bin") == content);
}

TEST_F(FilterMount, TheEndOfItsOwnerStopsTheServiceAndTakesItsMountsAway) {
    // The tool returns once the service and its mounts are gone.
    ASSERT_EQ(runCommand(appDir() + "/nimbrel-cfd", {"stop"}).exitCode, 0);
    ASSERT_FALSE(isMounted(root));
    ChildProcess owner("/bin/sleep", {"600"});
    ::setenv("NIMBREL_CFD_OWNER", std::to_string(owner.pid()).c_str(), 1);
    ASSERT_TRUE(nimbrel::platform::cf::ensureFilterService());
    ASSERT_TRUE(waitUntil([&] { return isMounted(root); }));
    owner.signal(SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return !isMounted(root) && nimbrel::platform::cf::filterServicePid() == 0; }));
}

TEST_F(FilterMount, UnregisteringTheRootUnmountsIt) {
    ASSERT_EQ(localPlaceholder(root + "/kept.txt", "kept"), S_OK);
    ASSERT_EQ(CfUnregisterSyncRoot(wide(root).c_str()), S_OK);
    EXPECT_FALSE(isMounted(root));
    EXPECT_EQ(readFile(root + "/kept.txt"), "kept");
}

}  // namespace
}  // namespace nimbrel::test::cf
