#include "shell/utilities.h"

#include "platform/searchapi.h"
#include "suite/base/utility.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

// Releases a COM interface pointer when the scope ends.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (pointer_) pointer_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface** out() { return &pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};

}  // namespace

HRESULT Utilities::RemoveFolderFromeSearchIndex(const std::wstring& folder) {
    // The index keeps the folder exactly as the sync root was given, backslashes and all.
    const std::wstring url = L"file:///" + folder;

    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        // The thread belongs to another apartment model; its COM state is not ours to undo.
        LOG_WARN << "CoInitializeEx Failed  :" << Utility::formatWinError(hr);
        return hr;
    }

    HRESULT result = S_OK;
    {
        ComPtr<ISearchManager> searchManager;
        ComPtr<ISearchCatalogManager> catalogManager;
        ComPtr<ISearchCrawlScopeManager> scopeManager;
        hr = CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_LOCAL_SERVER, IID_ISearchManager,
                              reinterpret_cast<LPVOID*>(searchManager.out()));
        if (FAILED(hr) || !searchManager) {
            LOG_WARN << "CoCreateInstance Failed  " << Utility::formatWinError(hr);
            result = FAILED(hr) ? hr : E_POINTER;
        } else if (FAILED(hr = searchManager->GetCatalog(L"SystemIndex", catalogManager.out()))) {
            LOG_WARN << Utility::formatWinError(hr);
            result = hr;
        } else if (FAILED(hr = catalogManager->GetCrawlScopeManager(scopeManager.out()))) {
            LOG_WARN << "GetCrawlScopeManager Failed " << Utility::formatWinError(hr);
            result = hr;
        } else {
            // A folder without a rule is fine: there is simply nothing to remove.
            scopeManager->RemoveScopeRule(url.c_str());
            scopeManager->SaveAll();
        }
        // The interfaces are released here, in reverse order of acquisition, before COM goes away.
    }
    CoUninitialize();
    return result;
}
