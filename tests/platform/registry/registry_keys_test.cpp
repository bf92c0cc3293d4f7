// Keys: creation, opening, views, deletion, enumeration, access rights and fault injection.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/registry/registry_test_support.h"
#include "support/test_env.h"

namespace {

using nimbrel::test::createKey;
using nimbrel::test::getString;
using nimbrel::test::keyExists;
using nimbrel::test::ScopedKey;
using nimbrel::test::setDword;
using nimbrel::test::setString;

// The names of a key's sub-keys (or values), in enumeration order.
std::vector<std::wstring> enumNames(HKEY key, bool values) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD chars = 256;
        LONG status = values ? RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr)
                             : RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        EXPECT_EQ(status, ERROR_SUCCESS);
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name, chars);
    }
    return names;
}
std::vector<std::wstring> subKeyNames(HKEY key) { return enumNames(key, false); }
std::vector<std::wstring> valueNames(HKEY key) { return enumNames(key, true); }

// How many values HKCU\`path` holds; 0 when it cannot be opened.
std::size_t valueCount(const std::wstring& path) {
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    return valueNames(key.get()).size();
}

// The DWORD value `name` of HKCU\`path` read through a handle with `access`; 0xFFFFFFFF when it cannot be read.
DWORD dwordAt(const std::wstring& path, const wchar_t* name, REGSAM access = KEY_READ) {
    ScopedKey key;
    DWORD value = 0, size = sizeof value;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, access, key.put()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

TEST(RegistryKeys, CreateMakesIntermediateKeysAndReportsDisposition) {
    ScopedKey key;
    DWORD disposition = 0;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Tellwick\\Orvane\\ann", key, KEY_ALL_ACCESS, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, L"Software\\Tellwick"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"Software\\Tellwick"));

    ScopedKey again;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"SOFTWARE\\tellwick\\ORVANE\\Ann\\", again, KEY_ALL_ACCESS, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    // Relative to an open key, and an empty sub-key opens the key itself.
    ScopedKey child, self;
    ASSERT_EQ(createKey(key.get(), L"child", child, KEY_ALL_ACCESS, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegOpenKeyExW(key.get(), L"", 0, KEY_READ, self.put()), ERROR_SUCCESS);
    EXPECT_EQ(subKeyNames(self.get()), std::vector<std::wstring>{L"child"});
}

TEST(RegistryKeys, NamesMatchInAnyCaseAndKeepTheCaseTheyWereCreatedWith) {
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\MixedCase\\Ünïcode", key), ERROR_SUCCESS);
    ASSERT_EQ(setString(key.get(), L"DisplayName", L"x"), ERROR_SUCCESS);

    ScopedKey other;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"software\\MIXEDCASE\\üNÏCODE", 0, KEY_READ, other.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(getString(other.get(), L"DISPLAYNAME"), L"x");
    EXPECT_EQ(valueNames(other.get()), std::vector<std::wstring>{L"DisplayName"});

    ScopedKey parent;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE", 0, KEY_READ, parent.put()), ERROR_SUCCESS);
    EXPECT_EQ(subKeyNames(parent.get()), std::vector<std::wstring>{L"MixedCase"});
}

TEST(RegistryKeys, OpenReportsMissingKeysAndBadPathsAndHandles) {
    ScopedKey key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Missing", 0, KEY_READ, key.put()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"\\Software", 0, KEY_READ, key.put()), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\\\Twice", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_BAD_PATHNAME);
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(RegOpenKeyExW(bogus, L"Software", 0, KEY_READ, key.put()), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);

    // A handle closed once is no longer valid.
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Closed", 0, nullptr, 0, KEY_READ, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_INVALID_HANDLE);
}

TEST(RegistryKeys, ThirtyTwoBitViewRedirectsOnlyLocalMachineSoftware) {
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tellwick", key, KEY_ALL_ACCESS | KEY_WOW64_32KEY),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(key.get(), L"Where", L"32"), ERROR_SUCCESS);

    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tellwick", KEY_WOW64_32KEY));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tellwick", KEY_WOW64_64KEY));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tellwick"));  // no flag: the native 64-bit view
    ScopedKey native;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\WOW6432Node\\Tellwick", 0, KEY_READ, native.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(getString(native.get(), L"Where"), L"32");

    // A key opened in the 32-bit view keeps it for what is created below it.
    ScopedKey child;
    ASSERT_EQ(createKey(key.get(), L"Child", child), ERROR_SUCCESS);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Tellwick\\Child", KEY_WOW64_64KEY));

    // The 32-bit view of HKLM\SOFTWARE itself is WOW6432Node.
    ScopedKey software32;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ | KEY_WOW64_32KEY, software32.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeyNames(software32.get()), std::vector<std::wstring>{L"Tellwick"});

    // Everything else is shared by both views.
    for (auto [root, path] :
         {std::pair{HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\{X}"}, std::pair{HKEY_CLASSES_ROOT, L"CLSID\\{X}"},
          std::pair{HKEY_LOCAL_MACHINE, L"SYSTEM\\X"}}) {
        ScopedKey shared;
        ASSERT_EQ(createKey(root, path, shared, KEY_ALL_ACCESS | KEY_WOW64_32KEY), ERROR_SUCCESS);
        EXPECT_TRUE(keyExists(root, path, KEY_WOW64_64KEY));
    }
}

TEST(RegistryKeys, DeleteKeyRefusesKeysWithSubKeysAndHonoursTheView) {
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Del\\Child", key), ERROR_SUCCESS);
    key.reset();
    EXPECT_EQ(RegDeleteKeyExW(HKEY_CURRENT_USER, L"Software\\Del", KEY_WOW64_64KEY, 0), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyExW(HKEY_CURRENT_USER, L"Software\\Del\\Child", KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyExW(HKEY_CURRENT_USER, L"Software\\Del\\Child", KEY_WOW64_64KEY, 0), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyExW(HKEY_CURRENT_USER, L"Software\\Del", 0, 0), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, L"Software\\Del"));

    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Both", key, KEY_ALL_ACCESS | KEY_WOW64_32KEY), ERROR_SUCCESS);
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Both", key, KEY_ALL_ACCESS | KEY_WOW64_64KEY), ERROR_SUCCESS);
    key.reset();
    EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Both", KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Both", KEY_WOW64_32KEY));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Both", KEY_WOW64_64KEY));
}

TEST(RegistryKeys, DeleteTreeEmptiesAKeyOrRemovesItWithEverythingBelowAndItsHandlesStayDeleted) {
    ScopedKey key, deep;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Tree", key), ERROR_SUCCESS);
    ASSERT_EQ(createKey(key.get(), L"a\\b\\c", deep), ERROR_SUCCESS);
    ASSERT_EQ(setString(deep.get(), L"v", L"deep"), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key.get(), L"top", 1), ERROR_SUCCESS);
    // A sibling whose name extends the deleted key's name must survive.
    ScopedKey sibling;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Tree2\\x", sibling), ERROR_SUCCESS);

    ASSERT_EQ(RegDeleteTreeW(key.get(), nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, L"Software\\Tree"));
    EXPECT_TRUE(subKeyNames(key.get()).empty());
    EXPECT_TRUE(valueNames(key.get()).empty());
    EXPECT_EQ(RegSetValueExW(deep.get(), L"v", 0, REG_DWORD, nullptr, 0), ERROR_KEY_DELETED);

    ASSERT_EQ(createKey(key.get(), L"again", deep), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"software\\TREE"), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, L"Software\\Tree"));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, L"Software\\Tree2\\x"));
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tree"), ERROR_FILE_NOT_FOUND);

    // A handle of the deleted key stays deleted when the name is created again.
    ScopedKey fresh, below;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Tree", fresh), ERROR_SUCCESS);
    EXPECT_EQ(setString(key.get(), L"currentUser", L"x"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(key.get(), L"", 0, KEY_READ, below.put()), ERROR_KEY_DELETED);
    EXPECT_EQ(setString(fresh.get(), L"currentUser", L"x"), ERROR_SUCCESS);

    // Without the rights a whole-tree delete needs, the handle may not empty its key.
    ScopedKey readOnly;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tree2", 0, KEY_READ, readOnly.put()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeW(readOnly.get(), nullptr), ERROR_ACCESS_DENIED);
}

TEST(RegistryKeys, EnumerationIsStableAndReportsShortBuffersAndTheEnd) {
    ScopedKey key, child;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Enum", key), ERROR_SUCCESS);
    for (auto* name : {L"beta", L"Alpha", L"gamma", L"Delta"})
        ASSERT_EQ(createKey(key.get(), name, child), ERROR_SUCCESS);
    for (auto* name : {L"z", L"A", L"m"}) ASSERT_EQ(setDword(key.get(), name, 1), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key.get(), L"Z", 2), ERROR_SUCCESS);  // overwriting keeps the value's place and name

    EXPECT_EQ(subKeyNames(key.get()), (std::vector<std::wstring>{L"Alpha", L"beta", L"Delta", L"gamma"}));
    EXPECT_EQ(valueNames(key.get()), (std::vector<std::wstring>{L"z", L"A", L"m"}));

    wchar_t name[5];
    DWORD chars = 5;  // "Alpha" needs 6 with its NUL
    EXPECT_EQ(RegEnumKeyExW(key.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    chars = 5;
    EXPECT_EQ(RegEnumKeyExW(key.get(), 4, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    BYTE data[2];
    DWORD size = sizeof data;
    chars = 5;
    EXPECT_EQ(RegEnumValueW(key.get(), 0, name, &chars, nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof(DWORD));

    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                               &maxValueName, &maxValue, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 4u);
    EXPECT_EQ(maxSubKey, 5u);
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(maxValueName, 1u);
    EXPECT_EQ(maxValue, sizeof(DWORD));
}

TEST(RegistryKeys, AccessRightsOfTheHandleAreEnforced) {
    ScopedKey writable;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Rights", writable), ERROR_SUCCESS);
    ASSERT_EQ(setDword(writable.get(), L"v", 1), ERROR_SUCCESS);
    ScopedKey readOnly, writeOnly;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Rights", 0, KEY_READ, readOnly.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Rights", 0, KEY_SET_VALUE, writeOnly.put()), ERROR_SUCCESS);
    EXPECT_EQ(setDword(readOnly.get(), L"v", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(readOnly.get(), L"v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryValueExW(writeOnly.get(), L"v", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setDword(writeOnly.get(), L"v", 3), ERROR_SUCCESS);
    EXPECT_EQ(dwordAt(L"Software\\Rights", L"v", GENERIC_READ), 3u);
}

TEST(RegistryKeys, InjectedFaultsFailTheNamedCallOnTheNamedKey) {
    using nimbrel::platform::faults::Rule;
    nimbrel::platform::faults::add(
        Rule{"RegSetValueExW", "HKEY_CURRENT_USER\\Software\\Faulty", 1, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)});
    nimbrel::platform::faults::add(Rule{"RegCreateKeyExW", "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\F", 0,
                                        HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)});

    ScopedKey key, other;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Faulty", key), ERROR_SUCCESS);
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Fine", other), ERROR_SUCCESS);
    EXPECT_EQ(setDword(other.get(), L"v", 1), ERROR_SUCCESS);
    EXPECT_EQ(setDword(key.get(), L"v", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setDword(key.get(), L"v", 1), ERROR_SUCCESS);  // the rule applied once

    EXPECT_EQ(createKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\F", key, KEY_ALL_ACCESS | KEY_WOW64_32KEY), ERROR_WRITE_FAULT);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\F"));
    EXPECT_EQ(createKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\F", key, KEY_ALL_ACCESS | KEY_WOW64_64KEY), ERROR_SUCCESS);
}

// A write that failed leaves its key short of values.
TEST(RegistryKeys, ConcurrentWritersFromSeveralThreadsAllLand) {
    constexpr int kThreads = 4;
    constexpr int kValuesEach = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            ScopedKey key;
            LONG status = createKey(HKEY_CURRENT_USER, L"Software\\Busy\\t" + std::to_wstring(t), key);
            for (int i = 0; i < kValuesEach && status == ERROR_SUCCESS; ++i) {
                status = setDword(key.get(), std::to_wstring(i).c_str(), static_cast<DWORD>(i));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(valueCount(L"Software\\Busy\\t" + std::to_wstring(t)), static_cast<std::size_t>(kValuesEach));
    }
}

TEST(RegistryKeys, EachPlatformHomeHasARegistryOfItsOwn) {
    const std::string first = getenv("NIMBREL_PLATFORM_HOME");
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Home", key), ERROR_SUCCESS);

    setenv("NIMBREL_PLATFORM_HOME", nimbrel::test::makeScratchDir("second-home").c_str(), 1);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, L"Software\\Home"));
    // A key opened before the switch still belongs to the registry it was opened in.
    EXPECT_EQ(setDword(key.get(), L"v", 7), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, L"Software\\Home"));

    setenv("NIMBREL_PLATFORM_HOME", first.c_str(), 1);
    EXPECT_EQ(dwordAt(L"Software\\Home", L"v"), 7u);
}

TEST(RegistryKeys, ConcurrentWritersFromSeveralProcessesAllLand) {
    constexpr int kProcesses = 8;
    const auto tool = nimbrel::test::appDir() + "/nimbrel-reg";
    std::vector<std::unique_ptr<nimbrel::test::ChildProcess>> children;
    for (int i = 0; i < kProcesses; ++i) {
        children.push_back(std::make_unique<nimbrel::test::ChildProcess>(
            tool, std::vector<std::string>{"add", "HKCU\\Software\\Crowd\\k" + std::to_string(i % 3), "/v",
                                           "v" + std::to_string(i), "/t", "REG_DWORD", "/d", std::to_string(i)}));
    }
    for (auto& child : children) EXPECT_EQ(child->wait(), 0) << child->err();
    std::size_t total = 0;
    for (int k = 0; k < 3; ++k) total += valueCount(L"Software\\Crowd\\k" + std::to_wstring(k));
    EXPECT_EQ(total, static_cast<std::size_t>(kProcesses));
}

}  // namespace
