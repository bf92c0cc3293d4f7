#include "registry_path.h"

#include <locale.h>
#include <wctype.h>

namespace nimbrel::platform::registry {

namespace {

constexpr ULONG_PTR kPredefinedBase = static_cast<ULONG_PTR>(static_cast<LONG_PTR>(LONG(0x80000000)));

struct RootNames {
    Root root;
    const wchar_t* longName;
    const wchar_t* shortName;
};

constexpr RootNames kRoots[] = {
    {Root::ClassesRoot, L"HKEY_CLASSES_ROOT", L"HKCR"},
    {Root::CurrentUser, L"HKEY_CURRENT_USER", L"HKCU"},
    {Root::LocalMachine, L"HKEY_LOCAL_MACHINE", L"HKLM"},
};

// Folding must not depend on the process locale, which the program may change at will.
locale_t foldingLocale() {
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

std::optional<Root> predefinedRoot(HKEY key) {
    auto value = reinterpret_cast<ULONG_PTR>(key);
    for (const auto& names : kRoots) {
        if (value == kPredefinedBase + static_cast<ULONG_PTR>(names.root)) return names.root;
    }
    return std::nullopt;
}

HKEY predefinedKey(Root root) { return reinterpret_cast<HKEY>(kPredefinedBase + static_cast<ULONG_PTR>(root)); }

std::wstring rootName(Root root) { return kRoots[static_cast<int>(root)].longName; }

std::optional<Root> parseRootName(const std::wstring& name) {
    auto folded = foldName(name);
    for (const auto& names : kRoots) {
        if (folded == names.longName || folded == names.shortName) return names.root;
    }
    return std::nullopt;
}

std::wstring foldName(const std::wstring& name) {
    std::wstring folded(name);
    locale_t locale = foldingLocale();
    for (auto& c : folded) {
        if (locale) {
            c = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale));
        } else if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return folded;
}

bool splitKeyPath(const std::wstring& path, std::vector<std::wstring>& levels) {
    levels.clear();
    if (path.empty()) return true;
    std::size_t start = 0;
    while (start < path.size()) {
        auto end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end == start) return false;
        levels.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::wstring joinKeyPath(Root root, const std::vector<std::wstring>& levels) {
    auto path = rootName(root);
    for (const auto& level : levels) path += L"\\" + level;
    return path;
}

REGSAM viewOf(REGSAM samDesired) { return samDesired & KEY_WOW64_RES; }

void applyView(Root root, std::vector<std::wstring>& levels, REGSAM view) {
    if (root != Root::LocalMachine || view != KEY_WOW64_32KEY) return;
    if (levels.empty() || foldName(levels[0]) != L"SOFTWARE") return;
    if (levels.size() > 1 && foldName(levels[1]) == L"WOW6432NODE") return;
    levels.insert(levels.begin() + 1, L"WOW6432Node");
}

}  // namespace nimbrel::platform::registry
