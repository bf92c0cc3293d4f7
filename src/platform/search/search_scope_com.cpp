// The search manager, its "SystemIndex" catalog and the catalog's crawl-scope manager as COM
// objects with reference counts, and the factory that creates the search manager.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/search_scope_control.h"
#include "platform/searchapi.h"
#include "search_scope_store.h"

extern "C" {
const CLSID CLSID_CSearchManager = {0x7D096C5F, 0xAC08, 0x4F1F, {0xBE, 0xB7, 0x5C, 0x22, 0xC5, 0x17, 0xCE, 0x39}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ISearchManager = {0xAB310581, 0xAC80, 0x11D1, {0x8D, 0xF3, 0x00, 0xC0, 0x4F, 0xB6, 0xEF, 0x69}};
const IID IID_ISearchCatalogManager = {0xAB310581, 0xAC80, 0x11D1, {0x8D, 0xF3, 0x00, 0xC0, 0x4F, 0xB6, 0xEF, 0x50}};
const IID IID_ISearchCrawlScopeManager = {0xAB310581, 0xAC80, 0x11D1, {0x8D, 0xF3, 0x00, 0xC0, 0x4F, 0xB6, 0xEF, 0x55}};
}

namespace {

using namespace nimbrel::platform;

bool sameGuid(const GUID& left, const GUID& right) { return std::memcmp(&left, &right, sizeof(GUID)) == 0; }

// Reference counting shared by the three objects; the object deletes itself at the last Release.
template <typename Interface>
class ComObject : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (sameGuid(riid, IID_IUnknown) || sameGuid(riid, ownIid())) {
            AddRef();
            *object = static_cast<Interface*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG left = --references_;
        if (left == 0) destroy();
        return left;
    }

protected:
    virtual const IID& ownIid() const = 0;
    virtual void destroy() = 0;

private:
    std::atomic<ULONG> references_{1};
};

class CrawlScopeManager final : public ComObject<ISearchCrawlScopeManager> {
public:
    HRESULT AddUserScopeRule(LPCWSTR url, BOOL include, BOOL, DWORD) override {
        if (auto fault = faults::check("AddUserScopeRule")) return *fault;
        if (!url || !*url) return E_INVALIDARG;
        pending_.push_back({false, {url, include != FALSE}});
        return S_OK;
    }

    HRESULT RemoveScopeRule(LPCWSTR rule) override {
        if (auto fault = faults::check("RemoveScopeRule")) return *fault;
        if (!rule || !*rule) return E_INVALIDARG;
        bool known = false;
        for (const auto& current : currentRules()) known = known || search::sameUrl(current.url, rule);
        if (!known) return S_FALSE;
        pending_.push_back({true, {rule, true}});
        return S_OK;
    }

    HRESULT IncludedInCrawlScope(LPCWSTR url, BOOL* included) override {
        if (!url || !included) return E_POINTER;
        auto rules = currentRules();
        const auto* rule = search::coveringRule(rules, url);
        *included = rule && rule->include ? TRUE : FALSE;
        return S_OK;
    }

    HRESULT SaveAll() override {
        if (auto fault = faults::check("SaveAll")) return *fault;
        if (search::serviceStopped()) return HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED);
        if (!search::saveChanges(pending_)) return E_FAIL;
        pending_.clear();
        return S_OK;
    }

private:
    const IID& ownIid() const override { return IID_ISearchCrawlScopeManager; }
    void destroy() override { delete this; }

    // The saved rules as this manager sees them: the store plus its own unsaved changes.
    std::vector<search::ScopeRule> currentRules() const {
        auto rules = search::loadRules();
        for (const auto& change : pending_) {
            std::vector<search::ScopeRule> kept;
            for (auto& rule : rules) {
                if (!search::sameUrl(rule.url, change.rule.url)) kept.push_back(rule);
            }
            if (!change.remove) kept.push_back(change.rule);
            rules.swap(kept);
        }
        return rules;
    }

    std::vector<search::ScopeChange> pending_;
};

class CatalogManager final : public ComObject<ISearchCatalogManager> {
public:
    HRESULT GetCrawlScopeManager(ISearchCrawlScopeManager** manager) override {
        if (!manager) return E_POINTER;
        *manager = nullptr;
        if (auto fault = faults::check("GetCrawlScopeManager")) return *fault;
        *manager = new CrawlScopeManager;
        return S_OK;
    }

private:
    const IID& ownIid() const override { return IID_ISearchCatalogManager; }
    void destroy() override { delete this; }
};

class SearchManager final : public ComObject<ISearchManager> {
public:
    HRESULT GetCatalog(LPCWSTR catalog, ISearchCatalogManager** manager) override {
        if (!manager) return E_POINTER;
        *manager = nullptr;
        if (auto fault = faults::check("GetCatalog")) return *fault;
        if (!catalog || std::wstring(catalog) != L"SystemIndex") return E_INVALIDARG;
        *manager = new CatalogManager;
        return S_OK;
    }

private:
    const IID& ownIid() const override { return IID_ISearchManager; }
    void destroy() override { delete this; }
};

}  // namespace

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (auto fault = faults::check("CoCreateInstance")) return *fault;
    if (!sameGuid(clsid, CLSID_CSearchManager) || !(clsContext & CLSCTX_LOCAL_SERVER)) return REGDB_E_CLASSNOTREG;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (search::serviceStopped()) return HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED);
    auto* manager = new SearchManager;
    HRESULT hr = manager->QueryInterface(iid, object);
    manager->Release();
    return hr;
}
