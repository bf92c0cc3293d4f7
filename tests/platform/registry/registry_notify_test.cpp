// Change notification: subtree and filter, one-shot watches, deletion and closing, and the events
// that carry the notifications (writes by other processes are seen by the shell folder watch of the
// end-to-end tests).
//
// A change that must not wake a watch is followed by a change to a separate "barrier" key with a
// watch of its own. The notifier reads changes in commit order and judges every watch on the same
// batch, so once the barrier watch has fired, the earlier changes have been judged too.
#include <gtest/gtest.h>

#include "platform/registry/registry_test_support.h"

namespace {

using nimbrel::test::createKey;
using nimbrel::test::ScopedKey;
using nimbrel::test::setDword;
using nimbrel::test::setString;

constexpr DWORD kWaitMs = 20000;

constexpr DWORD kAllChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET;

class Event {
public:
    Event() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return handle_; }
    bool signalled() const { return WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }
    bool waitSignalled() const { return WaitForSingleObject(handle_, kWaitMs) == WAIT_OBJECT_0; }

private:
    HANDLE handle_;
};

// Arms an asynchronous watch of `key` that signals `event`.
LONG watch(const ScopedKey& key, BOOL subtree, DWORD filter, const Event& event) {
    return RegNotifyChangeKeyValue(key.get(), subtree, filter, event.get(), TRUE);
}

// A watch on its own key that fires on the next write to it.
class Barrier {
public:
    Barrier() {
        EXPECT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Barrier", key_), ERROR_SUCCESS);
        EXPECT_EQ(watch(key_, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event_), ERROR_SUCCESS);
    }
    void pass() {
        ASSERT_EQ(setDword(key_.get(), L"tick", 1), ERROR_SUCCESS);
        ASSERT_TRUE(event_.waitSignalled());
    }

private:
    ScopedKey key_;
    Event event_;
};

TEST(RegistryNotify, ChangesOutsideTheWatchOrOfFilteredKindsDoNotWake) {
    ScopedKey watched, child, sibling;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Tellwick\\Orvane", watched), ERROR_SUCCESS);
    ASSERT_EQ(createKey(watched.get(), L"ann", child), ERROR_SUCCESS);
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Tellwick\\Other", sibling), ERROR_SUCCESS);
    Event event;
    ASSERT_EQ(watch(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event), ERROR_SUCCESS);
    Barrier barrier;

    ScopedKey added;
    ASSERT_EQ(createKey(watched.get(), L"newKey", added), ERROR_SUCCESS);  // a name change: filtered out
    ASSERT_EQ(setString(child.get(), L"bLogin", L"1"), ERROR_SUCCESS);     // below the key, no subtree
    ASSERT_EQ(setString(sibling.get(), L"x", L"1"), ERROR_SUCCESS);        // another key
    barrier.pass();
    EXPECT_FALSE(event.signalled());

    ASSERT_EQ(setString(watched.get(), L"currentUser", L"ann12345678"), ERROR_SUCCESS);
    EXPECT_TRUE(event.waitSignalled());
}

TEST(RegistryNotify, SubtreeWatchWakesOnChangesBelowAndNameWatchOnNewKeys) {
    ScopedKey watched;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Tellwick\\Orvane", watched), ERROR_SUCCESS);
    Event values, names;
    ASSERT_EQ(watch(watched, TRUE, REG_NOTIFY_CHANGE_LAST_SET, values), ERROR_SUCCESS);
    ASSERT_EQ(watch(watched, FALSE, REG_NOTIFY_CHANGE_NAME, names), ERROR_SUCCESS);
    Barrier barrier;

    ScopedKey deep;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Tellwick\\Orvane-Mount\\x", deep), ERROR_SUCCESS);
    ASSERT_EQ(setDword(deep.get(), L"v", 1), ERROR_SUCCESS);  // a sibling whose name shares the prefix
    barrier.pass();
    EXPECT_FALSE(values.signalled());
    EXPECT_FALSE(names.signalled());

    ASSERT_EQ(createKey(watched.get(), L"ann\\deeper", deep), ERROR_SUCCESS);
    EXPECT_TRUE(names.waitSignalled());
    EXPECT_FALSE(values.signalled());  // creating keys sets no value
    ASSERT_EQ(setDword(deep.get(), L"bOpenSync", 1), ERROR_SUCCESS);
    EXPECT_TRUE(values.waitSignalled());
}

TEST(RegistryNotify, WatchesAreOneShotAndMustBeArmedAgain) {
    ScopedKey watched;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Once", watched), ERROR_SUCCESS);
    Event event;
    ASSERT_EQ(watch(watched, TRUE, kAllChanges, event), ERROR_SUCCESS);
    ASSERT_EQ(setDword(watched.get(), L"v", 1), ERROR_SUCCESS);
    ASSERT_TRUE(event.waitSignalled());
    ASSERT_TRUE(ResetEvent(event.get()));

    Barrier barrier;
    ASSERT_EQ(setDword(watched.get(), L"v", 2), ERROR_SUCCESS);
    barrier.pass();
    EXPECT_FALSE(event.signalled());

    ASSERT_EQ(watch(watched, TRUE, kAllChanges, event), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(watched.get(), L"v"), ERROR_SUCCESS);
    EXPECT_TRUE(event.waitSignalled());
}

TEST(RegistryNotify, DeletingOrClosingTheWatchedKeyWakesWhateverTheFilter) {
    ScopedKey watched, closed;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Gone\\Watched", watched), ERROR_SUCCESS);
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Closed", closed), ERROR_SUCCESS);
    Event deleted, closing;
    ASSERT_EQ(watch(watched, FALSE, REG_NOTIFY_CHANGE_SECURITY, deleted), ERROR_SUCCESS);
    ASSERT_EQ(watch(closed, FALSE, REG_NOTIFY_CHANGE_LAST_SET, closing), ERROR_SUCCESS);

    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Gone"), ERROR_SUCCESS);
    EXPECT_TRUE(deleted.waitSignalled());
    EXPECT_EQ(watch(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, deleted), ERROR_KEY_DELETED);

    EXPECT_FALSE(closing.signalled());
    closed.reset();
    EXPECT_TRUE(closing.signalled());
}

TEST(RegistryNotify, RejectsBadArguments) {
    ScopedKey readOnly, watched;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, L"Software\\Args", watched), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Args", 0, KEY_QUERY_VALUE, readOnly.put()), ERROR_SUCCESS);
    Event event;
    EXPECT_EQ(watch(watched, FALSE, 0, event), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(watch(watched, FALSE, 0x40, event), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegNotifyChangeKeyValue(watched.get(), FALSE, kAllChanges, nullptr, TRUE), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegNotifyChangeKeyValue(watched.get(), FALSE, kAllChanges, event.get(), FALSE), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegNotifyChangeKeyValue(watched.get(), FALSE, kAllChanges, watched.get(), TRUE), ERROR_INVALID_HANDLE);
    EXPECT_EQ(watch(readOnly, FALSE, kAllChanges, event), ERROR_ACCESS_DENIED);
}

}  // namespace
