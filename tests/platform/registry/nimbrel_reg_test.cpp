// nimbrel-reg as a user runs it: output, exit codes and its effect on the registry this process sees.
#include <gtest/gtest.h>

#include "platform/registry/registry_test_support.h"
#include "support/test_env.h"

namespace {

using nimbrel::test::CommandResult;
using nimbrel::test::getString;
using nimbrel::test::ScopedKey;

CommandResult reg(const std::vector<std::string>& args, const std::string& input = {}) {
    nimbrel::test::ChildProcess::Options options;
    options.stdinText = input;
    return nimbrel::test::runCommand(nimbrel::test::appDir() + "/nimbrel-reg", args, options);
}

constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
constexpr const char* kDone = "The operation completed successfully.\n";

TEST(NimbrelReg, AddAndQueryPrintLikeRegExe) {
    EXPECT_EQ(reg({"add", "HKCU\\Software\\Tellwick\\Orvane", "/v", "currentUser", "/d", "安娜ann12345"}).out, kDone);
    EXPECT_EQ(
        reg({"add", "HKCU\\Software\\Tellwick\\Orvane\\ann", "/v", "bOpenSync", "/t", "REG_DWORD", "/d", "0x41"}).out,
        kDone);
    EXPECT_EQ(reg({"add", "HKEY_CURRENT_USER\\Software\\Tellwick\\Orvane", "/ve", "/t", "REG_EXPAND_SZ", "/d",
                   "%SystemRoot%\\x"})
                  .exitCode,
              0);

    auto query = reg({"query", "hkcu\\Software\\Tellwick\\Orvane"});
    EXPECT_EQ(query.exitCode, 0);
    EXPECT_EQ(query.out,
              "\nHKEY_CURRENT_USER\\Software\\Tellwick\\Orvane\n"
              "    currentUser    REG_SZ    安娜ann12345\n"
              "    (Default)    REG_EXPAND_SZ    %SystemRoot%\\x\n"
              "\n"
              "HKEY_CURRENT_USER\\Software\\Tellwick\\Orvane\\ann\n");

    auto one = reg({"query", "HKCU\\Software\\Tellwick\\Orvane\\ann", "/v", "bOpenSync"});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_EQ(one.out, "\nHKEY_CURRENT_USER\\Software\\Tellwick\\Orvane\\ann\n    bOpenSync    REG_DWORD    0x41\n\n");

    auto tree = reg({"query", "HKCU\\Software\\Tellwick", "/s"});
    EXPECT_EQ(tree.exitCode, 0);
    EXPECT_EQ(tree.out,
              "\nHKEY_CURRENT_USER\\Software\\Tellwick\n\n"
              "HKEY_CURRENT_USER\\Software\\Tellwick\\Orvane\n"
              "    currentUser    REG_SZ    安娜ann12345\n"
              "    (Default)    REG_EXPAND_SZ    %SystemRoot%\\x\n\n"
              "HKEY_CURRENT_USER\\Software\\Tellwick\\Orvane\\ann\n"
              "    bOpenSync    REG_DWORD    0x41\n\n");

    // What the tool wrote is what this process reads.
    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tellwick\\Orvane", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    EXPECT_EQ(getString(key.get(), L"currentUser"), L"安娜ann12345");
}

TEST(NimbrelReg, MissingKeysAndValuesFailWithRegExeText) {
    auto missingKey = reg({"query", "HKCU\\Software\\Nothing"});
    EXPECT_EQ(missingKey.exitCode, 1);
    EXPECT_EQ(missingKey.err, kNotFound);
    ASSERT_EQ(reg({"add", "HKCU\\Software\\Some"}).exitCode, 0);
    auto missingValue = reg({"query", "HKCU\\Software\\Some", "/v", "nope"});
    EXPECT_EQ(missingValue.exitCode, 1);
    EXPECT_EQ(missingValue.err, kNotFound);
    EXPECT_EQ(reg({"delete", "HKCU\\Software\\Some", "/v", "nope", "/f"}).err, kNotFound);
    EXPECT_EQ(reg({"delete", "HKCU\\Software\\Nothing", "/f"}).exitCode, 1);
}

TEST(NimbrelReg, BadArgumentsFailWithOneLine) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate", "HKCU\\x"},
                                               {"query"},
                                               {"add", "HKCU\\x", "/t", "REG_FLOAT"},
                                               {"add", "HKCU\\x", "/v", "n", "/t", "REG_DWORD", "/d", "twelve"},
                                               {"query", "HKCU\\x", "/d", "1"}}) {
        auto result = reg(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err.rfind("ERROR: Invalid syntax", 0), 0u) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
    auto badRoot = reg({"query", "HKXY\\Software"});
    EXPECT_EQ(badRoot.exitCode, 2);
    EXPECT_EQ(badRoot.err, "ERROR: Invalid key name HKXY\\Software. Type \"nimbrel-reg --help\" for usage.\n");
    EXPECT_FALSE(nimbrel::test::keyExists(HKEY_CURRENT_USER, L"x"));
}

TEST(NimbrelReg, ViewsFollowTheRegSwitches) {
    ASSERT_EQ(reg({"add", "HKLM\\SOFTWARE\\Tellwick", "/v", "bits", "/d", "32", "/reg:32"}).exitCode, 0);
    auto shown = reg({"query", "HKLM\\SOFTWARE\\Tellwick", "/reg:32"});
    EXPECT_EQ(shown.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Tellwick\n    bits    REG_SZ    32\n\n");
    EXPECT_EQ(reg({"query", "HKLM\\SOFTWARE\\Tellwick", "/reg:64"}).exitCode, 1);
    EXPECT_TRUE(nimbrel::test::keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tellwick", KEY_WOW64_32KEY));
    EXPECT_EQ(reg({"delete", "HKLM\\SOFTWARE\\Tellwick", "/f", "/reg:32"}).out, kDone);
    EXPECT_FALSE(nimbrel::test::keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tellwick", KEY_WOW64_32KEY));
}

TEST(NimbrelReg, OverwriteAndDeleteAskUnlessForced) {
    ASSERT_EQ(reg({"add", "HKCU\\Software\\Ask", "/v", "v", "/d", "first"}).exitCode, 0);
    auto refused = reg({"add", "HKCU\\Software\\Ask", "/v", "v", "/d", "second"}, "n\n");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "Value v exists, overwrite (Yes/No)? The operation was cancelled by the user.\n");
    auto accepted = reg({"add", "HKCU\\Software\\Ask", "/v", "v", "/d", "third"}, "yes\n");
    EXPECT_EQ(accepted.exitCode, 0);
    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Ask", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    EXPECT_EQ(getString(key.get(), L"v"), L"third");

    ASSERT_EQ(reg({"add", "HKCU\\Software\\Ask\\Sub", "/v", "w", "/d", "1"}).exitCode, 0);
    EXPECT_EQ(reg({"delete", "HKCU\\Software\\Ask", "/v", "v"}, "no\n").exitCode, 1);
    EXPECT_EQ(getString(key.get(), L"v"), L"third");
    EXPECT_EQ(reg({"delete", "HKCU\\Software\\Ask", "/v", "v", "/f"}).out, kDone);
    EXPECT_EQ(RegQueryValueExW(key.get(), L"v", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

    auto removal = reg({"delete", "HKCU\\Software\\Ask"}, "y\n");
    EXPECT_EQ(removal.exitCode, 0);
    EXPECT_EQ(removal.out,
              "Permanently delete the registry key HKEY_CURRENT_USER\\Software\\Ask (Yes/No)? "
              "The operation completed successfully.\n");
    EXPECT_FALSE(nimbrel::test::keyExists(HKEY_CURRENT_USER, L"Software\\Ask"));
}

}  // namespace
