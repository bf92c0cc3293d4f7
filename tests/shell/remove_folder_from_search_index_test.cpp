// Removing a folder's rule from the crawl scope of the system index.
#include <gtest/gtest.h>

#include <future>

#include "platform/fault_injection.h"
#include "platform/search_scope_control.h"
#include "shell/utilities.h"
#include "suite/logbridge/log_capture.h"
#include "support/crawl_scope.h"

namespace faults = nimbrel::platform::faults;
using nimbrel::test::CrawlScope;

TEST(RemoveFolderFromSearchIndexTest, RemovesTheRuleNamedByTheFolderExactlyAsGiven) {
    EXPECT_EQ(Utilities::RemoveFolderFromeSearchIndex(L"D:\\Never\\Indexed"), S_OK) << "no rule is no error";
    CrawlScope{}.include(L"file:///D:\\Cloud\\Sync");
    CrawlScope{}.include(L"file:///D:\\Cloud\\Other");
    EXPECT_EQ(Utilities::RemoveFolderFromeSearchIndex(L"D:\\Cloud\\Sync"), S_OK);
    CrawlScope after;
    EXPECT_FALSE(after.included(L"file:///D:\\Cloud\\Sync"));
    EXPECT_FALSE(after.included(L"file:///D:\\Cloud\\Sync\\a.txt"));
    EXPECT_TRUE(after.included(L"file:///D:\\Cloud\\Other"));
}

TEST(RemoveFolderFromSearchIndexTest, TheUrlKeepsBackslashesAndGetsNoTrailingSeparator) {
    CrawlScope{}.include(L"file:///D:/Cloud/Sync");
    CrawlScope{}.include(L"file:///D:\\Cloud\\Sync\\");
    EXPECT_EQ(Utilities::RemoveFolderFromeSearchIndex(L"D:\\Cloud\\Sync"), S_OK);
    CrawlScope after;
    EXPECT_TRUE(after.included(L"file:///D:/Cloud/Sync"));
    EXPECT_TRUE(after.included(L"file:///D:\\Cloud\\Sync\\x"));
}

TEST(RemoveFolderFromSearchIndexTest, AStoppedSearchServiceFailsTheCreationAndChangesNothing) {
    CrawlScope{}.include(L"file:///D:\\Cloud\\Sync");
    nimbrel::platform::search::setServiceStopped(true);
    LogCapture capture;
    HRESULT hr = Utilities::RemoveFolderFromeSearchIndex(L"D:\\Cloud\\Sync");
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED));
    EXPECT_TRUE(capture.contains("Utilities::RemoveFolderFromeSearchIndex"));
    EXPECT_TRUE(capture.contains("CoCreateInstance Failed  "));
    nimbrel::platform::search::setServiceStopped(false);
    EXPECT_TRUE(CrawlScope{}.included(L"file:///D:\\Cloud\\Sync"));
    // COM was released on this thread: it may join a multithreaded apartment afterwards.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

TEST(RemoveFolderFromSearchIndexTest, AThreadInAMultithreadedApartmentIsRefusedAndKeepsItsApartment) {
    auto outcome = std::async(std::launch::async, [] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        LogCapture capture;
        HRESULT hr = Utilities::RemoveFolderFromeSearchIndex(L"D:\\Cloud\\Sync");
        bool logged = capture.contains("CoInitializeEx Failed  :");
        // Still multithreaded: a second multithreaded initialisation is only counted.
        HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoUninitialize();
        CoUninitialize();
        return std::make_tuple(hr, logged, again);
    });
    auto [hr, logged, again] = outcome.get();
    EXPECT_EQ(hr, RPC_E_CHANGED_MODE);
    EXPECT_TRUE(logged);
    EXPECT_EQ(again, S_FALSE);
}

TEST(RemoveFolderFromSearchIndexTest, FailuresOfTheCatalogAndScopeManagerAreReported) {
    faults::add({"GetCatalog", "", 1, E_ACCESSDENIED});
    EXPECT_EQ(Utilities::RemoveFolderFromeSearchIndex(L"D:\\x"), E_ACCESSDENIED);
    faults::add({"GetCrawlScopeManager", "", 1, E_OUTOFMEMORY});
    LogCapture capture;
    EXPECT_EQ(Utilities::RemoveFolderFromeSearchIndex(L"D:\\x"), E_OUTOFMEMORY);
    EXPECT_TRUE(capture.contains("GetCrawlScopeManager Failed "));
    faults::clear();
    EXPECT_EQ(Utilities::RemoveFolderFromeSearchIndex(L"D:\\x"), S_OK);
}
