#pragma once
// Test-only fault injection for the stand-ins of the Cloud Files API, the registry and the search
// scope: "make the next N calls of F (on path P) return H", optionally after a delay. Off unless a
// test adds rules or the NIMBREL_FAULTS variable names some when the process starts.
//
// NIMBREL_FAULTS: rules separated by ";", each "Function[@path]=HRESULT[*count][+delayMs]", e.g.
//   "CfConnectSyncRoot@/tmp/root=0x8007017A*2;CfUnregisterSyncRoot=0+4000"
// A count of 0 or none means every call; a result of 0 with a delay only slows the call down.
// "DiskFull" is checked by every file write and free-space query of the Win32 stand-in.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace nimbrel::platform::faults {

struct Rule {
    std::string function;
    std::string path;  // host path; empty matches every call of the function
    int count = 0;     // calls the rule still applies to; 0 = every call
    HRESULT result = S_OK;
    std::chrono::milliseconds delay{0};
};

void add(Rule rule);
void clear();
// The number of times `function` was called so far (faulted or not), for tests that prove that
// no call happened.
int callCount(const std::string& function);
void resetCallCounts();

// Called at the start of every stand-in function that supports injection. Counts the call,
// applies a matching rule's delay, and answers the rule's failure result if it has one.
std::optional<HRESULT> check(std::string_view function, const std::string& hostPath = {});

// Parses NIMBREL_FAULTS-style text; false on a malformed rule (nothing is added then).
bool addFromText(const std::string& text);

}  // namespace nimbrel::platform::faults
