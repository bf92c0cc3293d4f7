#include "platform/fault_injection.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

namespace nimbrel::platform::faults {

namespace {

struct alignas(64) Count {
    std::atomic<int> value{0};
};
constexpr unsigned kCountShares = 8;
using Counts = std::array<Count, kCountShares>;

struct State {
    std::mutex mutex;
    std::vector<Rule> rules;
    // Whether `rules` holds any: every stand-in call asks, and almost always none does. On a line
    // of its own, which the counters never share.
    alignas(64) std::atomic<bool> armed{false};
    // Per function, a few counters that threads share out, so that threads calling at once seldom
    // take turns on one. Counters stay where they are once made.
    std::map<std::string, Counts, std::less<>> calls;
};

// This thread's call counter of `function`, found once per thread without the state's lock.
std::atomic<int>& counterOf(State& s, std::string_view function) {
    static std::atomic<unsigned> threads{0};
    thread_local const unsigned share = threads++ % kCountShares;
    thread_local std::map<std::string, std::atomic<int>*, std::less<>> known;
    if (auto found = known.find(function); found != known.end()) return *found->second;
    std::lock_guard lock(s.mutex);
    auto made = s.calls.find(function);
    if (made == s.calls.end()) made = s.calls.try_emplace(std::string(function)).first;
    std::atomic<int>& count = made->second[share].value;
    known.emplace(std::string(function), &count);
    return count;
}

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
            s->armed = !s->rules.empty();
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
    s.armed = !s.rules.empty();
    return true;
}

void add(Rule rule) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.rules.push_back(std::move(rule));
    s.armed = true;
}

void clear() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.rules.clear();
    s.armed = false;
}

int callCount(const std::string& function) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    auto it = s.calls.find(function);
    if (it == s.calls.end()) return 0;
    int total = 0;
    for (const Count& count : it->second) total += count.value.load();
    return total;
}

void resetCallCounts() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    for (auto& [function, counts] : s.calls) {
        for (Count& count : counts) count.value = 0;
    }
}

std::optional<HRESULT> check(std::string_view function, const std::string& hostPath) {
    auto& s = state();
    counterOf(s, function).fetch_add(1, std::memory_order_relaxed);
    if (!s.armed.load(std::memory_order_acquire)) return std::nullopt;
    std::optional<HRESULT> result;
    std::chrono::milliseconds delay{0};
    {
        std::lock_guard lock(s.mutex);
        for (auto it = s.rules.begin(); it != s.rules.end(); ++it) {
            if (it->function != function || (!it->path.empty() && it->path != hostPath)) continue;
            delay = it->delay;
            if (FAILED(it->result)) result = it->result;
            if (it->count > 0 && --it->count == 0) s.rules.erase(it);
            break;
        }
        s.armed = !s.rules.empty();
    }
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    return result;
}

}  // namespace nimbrel::platform::faults
