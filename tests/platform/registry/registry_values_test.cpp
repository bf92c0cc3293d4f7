// Values: round trips of each type, the stored form, sizes and the documented error codes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <vector>

#include "platform/registry/registry_test_support.h"
#include "registry_path.h"
#include "registry_store.h"

namespace {

using nimbrel::test::createKey;
using nimbrel::test::getString;
using nimbrel::test::ScopedKey;
using nimbrel::test::setDword;
using nimbrel::test::setString;

// Sets `size` bytes of `type` and reads back the same type, size and bytes.
void expectRoundTrip(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    std::vector<BYTE> back(size + 8);
    DWORD backSize = static_cast<DWORD>(back.size()), backType = 0;
    ASSERT_EQ(RegQueryValueExW(key, name, nullptr, &backType, back.data(), &backSize), ERROR_SUCCESS);
    EXPECT_EQ(backType, type) << name;
    ASSERT_EQ(backSize, size) << name;
    EXPECT_EQ(std::memcmp(back.data(), data, size), 0) << name;
}

class RegistryValues : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Values", key_), ERROR_SUCCESS); }
    HKEY key() const { return key_.get(); }

private:
    ScopedKey key_;
};

TEST_F(RegistryValues, StringsRoundTripWithTheirWindowsSizeAndAreStoredAsUtf16) {
    const std::wstring text = L"从这里进入Calimbra \U0001F600";
    ASSERT_EQ(setString(key(), L"InfoTip", text), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key(), L"InfoTip", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, (text.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(getString(key(), L"infotip"), text);

    // Stored the way Windows keeps it: UTF-16LE with the terminating NUL (the emoji as a pair).
    auto store = nimbrel::platform::registry::RegistryStore::current();
    ASSERT_TRUE(store);
    long long id = 0;
    ASSERT_EQ(store->findKey(nimbrel::platform::registry::Root::CurrentUser, {L"Software", L"Values"}, id),
              ERROR_SUCCESS);
    nimbrel::platform::registry::ValueRecord stored;
    ASSERT_EQ(store->queryValue(id, L"InfoTip", stored), ERROR_SUCCESS);
    ASSERT_EQ(stored.bytes.size(), (text.size() + 2) * 2);
    EXPECT_EQ(stored.bytes.substr(0, 2), std::string("\xce\x4e"));                                    // U+4ECE
    EXPECT_EQ(stored.bytes.substr(stored.bytes.size() - 6), std::string("\x3d\xd8\x00\xde\0\0", 6));  // U+1F600, NUL
}

TEST_F(RegistryValues, QueryReportsMoreDataWithTheNeededSizeAndMissingValues) {
    ASSERT_EQ(setString(key(), L"syncPath", L"/home/ann/Sync"), ERROR_SUCCESS);
    wchar_t small[4];
    DWORD size = sizeof small;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key(), L"syncPath", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 15 * sizeof(wchar_t));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(RegQueryValueExW(key(), L"syncPath", nullptr, nullptr, reinterpret_cast<BYTE*>(small), nullptr),
              ERROR_INVALID_PARAMETER);

    EXPECT_EQ(RegQueryValueExW(key(), L"absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key(), L"absent"), ERROR_FILE_NOT_FOUND);
    // The default value exists only once it is set; a null name and "" both name it.
    EXPECT_EQ(RegQueryValueExW(key(), nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(setString(key(), nullptr, L"Calimbra"), ERROR_SUCCESS);
    EXPECT_EQ(getString(key(), L""), L"Calimbra");

    ASSERT_EQ(RegDeleteValueW(key(), L"SYNCPATH"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key(), L"syncPath", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, NumbersAndOtherTypesRoundTripUnchanged) {
    const DWORD attributes = 0xF080004D;
    expectRoundTrip(key(), L"Attributes", REG_DWORD, &attributes, sizeof attributes);
    const BYTE blob[] = {0, 1, 0xFE, 0xFF, 0};
    expectRoundTrip(key(), L"Blob", REG_BINARY, blob, sizeof blob);
    const wchar_t multi[] = L"one\0二\0";  // two strings and the final empty one
    expectRoundTrip(key(), L"Multi", REG_MULTI_SZ, multi, sizeof multi);

    // Setting a value again replaces type and data.
    ASSERT_EQ(setString(key(), L"Attributes", L"now text"), ERROR_SUCCESS);
    EXPECT_EQ(getString(key(), L"Attributes"), L"now text");
}

TEST_F(RegistryValues, ExpandStringsKeepTheirTypeAndTheirText) {
    setenv("NIMBREL_REG_TEST_ROOT", "/opt/win", 1);
    ASSERT_EQ(
        setString(key(), L"Server", L"%NIMBREL_REG_TEST_ROOT%\\system32\\shell32.dll %UNSET_NAME_X%", REG_EXPAND_SZ),
        ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key(), L"Server", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(getString(key(), L"Server"), L"%NIMBREL_REG_TEST_ROOT%\\system32\\shell32.dll %UNSET_NAME_X%");
}

}  // namespace
