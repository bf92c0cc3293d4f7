#pragma once
// Cross-process tests run a second copy of this test binary in a "role": a disabled test case that
// the parent selects by name. The child joins the parent's runtime and platform folders (its own
// test start gives it fresh ones) and stays until the parent ends it.

#include <memory>
#include <string>

#include "support/test_env.h"

namespace nimbrel::test::win32 {

// Starts role `name` (test Win32ChildRole.DISABLED_<name>) with extra environment entries.
std::unique_ptr<ChildProcess> startRole(const std::string& name, std::map<std::string, std::string> env = {});

// In a role: adopts the parent's folders.
void joinParentFolders();
// In a role: stays alive (up to the generous test limit) until the parent ends it.
void stayUntilEnded();

std::string roleEnv(const char* name);

}  // namespace nimbrel::test::win32
