#include "platform/fault_injection.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace nimbrel::platform::faults {

namespace {

struct State {
    std::mutex mutex;
    std::vector<Rule> rules;
    std::map<std::string, int> calls;
};

bool parseRule(const std::string& item, Rule& rule) {
    auto eq = item.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    auto target = item.substr(0, eq);
    auto at = target.find('@');
    rule.function = target.substr(0, at);
    if (rule.function.empty()) return false;
    if (at != std::string::npos) rule.path = target.substr(at + 1);
    auto outcome = item.substr(eq + 1);
    auto plus = outcome.find('+');
    char* end = nullptr;
    if (plus != std::string::npos) {
        rule.delay = std::chrono::milliseconds(std::strtol(outcome.c_str() + plus + 1, &end, 10));
        if (*end) return false;
        outcome.resize(plus);
    }
    auto star = outcome.find('*');
    if (star != std::string::npos) {
        rule.count = static_cast<int>(std::strtol(outcome.c_str() + star + 1, &end, 10));
        if (*end || rule.count < 0) return false;
        outcome.resize(star);
    }
    if (outcome.empty()) return false;
    rule.result = static_cast<HRESULT>(std::strtoul(outcome.c_str(), &end, 0));
    return *end == '\0';
}

std::vector<Rule> parseRules(const std::string& text, bool& ok) {
    std::vector<Rule> parsed;
    std::stringstream rules(text);
    std::string item;
    ok = true;
    while (std::getline(rules, item, ';')) {
        if (item.empty()) continue;
        Rule rule;
        if (!parseRule(item, rule)) {
            ok = false;
            return {};
        }
        parsed.push_back(rule);
    }
    return parsed;
}

State& state() {
    static auto* instance = [] {
        auto* s = new State;
        if (const char* text = std::getenv("NIMBREL_FAULTS")) {
            bool ok = false;
            s->rules = parseRules(text, ok);
        }
        return s;
    }();
    return *instance;
}

}  // namespace

bool addFromText(const std::string& text) {
    bool ok = false;
    auto parsed = parseRules(text, ok);
    if (!ok) return false;
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.rules.insert(s.rules.end(), parsed.begin(), parsed.end());
    return true;
}

void add(Rule rule) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.rules.push_back(std::move(rule));
}

void clear() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.rules.clear();
}

int callCount(const std::string& function) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    auto it = s.calls.find(function);
    return it == s.calls.end() ? 0 : it->second;
}

void resetCallCounts() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
}

std::optional<HRESULT> check(const std::string& function, const std::string& hostPath) {
    std::optional<HRESULT> result;
    std::chrono::milliseconds delay{0};
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        ++s.calls[function];
        for (auto it = s.rules.begin(); it != s.rules.end(); ++it) {
            if (it->function != function || (!it->path.empty() && it->path != hostPath)) continue;
            delay = it->delay;
            if (FAILED(it->result)) result = it->result;
            if (it->count > 0 && --it->count == 0) s.rules.erase(it);
            break;
        }
    }
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    return result;
}

}  // namespace nimbrel::platform::faults
