#pragma once
// Shell-integration utilities that do not belong to the Cloud Files registration.

#include <string>

#include "platform/windows.h"

class Utilities {
public:
    // Removes the crawl-scope rule "file:///<folder>" of the system index, so that Windows Search
    // stops indexing a folder that is no longer a sync root. 0 on success, else the failing HRESULT;
    // callers go on with their clean-up whatever it answers.
    static HRESULT RemoveFolderFromeSearchIndex(const std::wstring& folder);
};
