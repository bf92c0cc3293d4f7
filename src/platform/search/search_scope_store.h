#pragma once
// The crawl-scope rules of the system index, kept in "searchscope/rules" below
// NIMBREL_PLATFORM_HOME: one rule per line, "+" (include) or "-" (exclude) followed by the URL.

#include <string>
#include <vector>

namespace nimbrel::platform::search {

struct ScopeRule {
    std::wstring url;
    bool include = true;
};

// A pending change of one crawl-scope manager: add (or replace) a rule, or remove the rule of a URL.
struct ScopeChange {
    bool remove = false;
    ScopeRule rule;
};

std::vector<ScopeRule> loadRules();
// Applies the changes, in order, to the rules as they are on disk now (another process may have
// saved in the meantime); false when the store cannot be written.
bool saveChanges(const std::vector<ScopeChange>& changes);
// Rule URLs compare without regard to letter case, as the index treats file URLs.
bool sameUrl(const std::wstring& left, const std::wstring& right);
// The most specific rule that covers `url` (the URL itself or a folder above it), or null.
const ScopeRule* coveringRule(const std::vector<ScopeRule>& rules, const std::wstring& url);

}  // namespace nimbrel::platform::search
