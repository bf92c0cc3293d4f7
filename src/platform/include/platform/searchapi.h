#pragma once
// The Windows Search crawl-scope interfaces Nimbrel uses (ISearchManager -> ISearchCatalogManager
// -> ISearchCrawlScopeManager), the COM object factory that hands out the search manager, and the
// class and interface identifiers. The scope rules live in a store below NIMBREL_PLATFORM_HOME, so
// every process of one test run sees the same crawl scope, as every process on Windows sees the
// one system index.

#include "platform/win_com.h"
#include "platform/win_types.h"

#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_INPROC_HANDLER 0x2u
#define CLSCTX_LOCAL_SERVER 0x4u
#define CLSCTX_REMOTE_SERVER 0x10u
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110L)
#define REGDB_E_CLASSNOTREG static_cast<HRESULT>(0x80040154L)
#define ERROR_SERVICE_DISABLED 1058L

// Follow flags of AddUserScopeRule.
#define FF_INDEXCOMPLEXURLS 0x1u
#define FF_SUPPRESSINDEXING 0x2u

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct ISearchCrawlScopeManager : IUnknown {
    // A rule for `url` and everything below it; replaces an existing rule for the same URL.
    virtual HRESULT AddUserScopeRule(LPCWSTR url, BOOL include, BOOL overrideChildren, DWORD followFlags) = 0;
    // S_OK when a rule for exactly `rule` was removed, S_FALSE when there was none.
    virtual HRESULT RemoveScopeRule(LPCWSTR rule) = 0;
    // Whether the most specific rule covering `url` includes it (FALSE without any rule).
    virtual HRESULT IncludedInCrawlScope(LPCWSTR url, BOOL* included) = 0;
    // Changes made through this manager reach the index only when they are saved.
    virtual HRESULT SaveAll() = 0;

protected:
    ~ISearchCrawlScopeManager() = default;
};

struct ISearchCatalogManager : IUnknown {
    virtual HRESULT GetCrawlScopeManager(ISearchCrawlScopeManager** manager) = 0;

protected:
    ~ISearchCatalogManager() = default;
};

struct ISearchManager : IUnknown {
    // Only the catalog "SystemIndex" exists.
    virtual HRESULT GetCatalog(LPCWSTR catalog, ISearchCatalogManager** manager) = 0;

protected:
    ~ISearchManager() = default;
};

extern "C" {
extern const CLSID CLSID_CSearchManager;
extern const IID IID_IUnknown;
extern const IID IID_ISearchManager;
extern const IID IID_ISearchCatalogManager;
extern const IID IID_ISearchCrawlScopeManager;

// Knows the one class CLSID_CSearchManager, served out of process (CLSCTX_LOCAL_SERVER). While the
// search service is stopped the object cannot be created: HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid, LPVOID* object);
}
