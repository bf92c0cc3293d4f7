#pragma once
// The crawl scope of the system index as a fresh client of the search service sees it.

#include <gtest/gtest.h>

#include <string>

#include "platform/searchapi.h"

namespace nimbrel::test {

class CrawlScope {
public:
    CrawlScope() {
        EXPECT_EQ(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_LOCAL_SERVER, IID_ISearchManager,
                                   reinterpret_cast<LPVOID*>(&manager_)),
                  S_OK);
        if (manager_) {
            EXPECT_EQ(manager_->GetCatalog(L"SystemIndex", &catalog_), S_OK);
        }
        if (catalog_) {
            EXPECT_EQ(catalog_->GetCrawlScopeManager(&scope_), S_OK);
        }
    }
    ~CrawlScope() {
        if (scope_) scope_->Release();
        if (catalog_) catalog_->Release();
        if (manager_) manager_->Release();
    }
    void include(const std::wstring& url) {
        ASSERT_EQ(scope_->AddUserScopeRule(url.c_str(), TRUE, FALSE, 0), S_OK);
        ASSERT_EQ(scope_->SaveAll(), S_OK);
    }
    HRESULT removeRule(const std::wstring& url) { return scope_->RemoveScopeRule(url.c_str()); }
    bool included(const std::wstring& url) {
        BOOL result = FALSE;
        EXPECT_EQ(scope_->IncludedInCrawlScope(url.c_str(), &result), S_OK);
        return result;
    }

private:
    ISearchManager* manager_ = nullptr;
    ISearchCatalogManager* catalog_ = nullptr;
    ISearchCrawlScopeManager* scope_ = nullptr;
};

}  // namespace nimbrel::test
