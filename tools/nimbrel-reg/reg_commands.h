#pragma once
// The three operations of nimbrel-reg; each answers the process exit code (0 success, 1 failure).

#include "reg_arguments.h"

namespace nimbrel::reg {

int runQuery(const Arguments& arguments);
int runAdd(const Arguments& arguments);
int runDelete(const Arguments& arguments);

}  // namespace nimbrel::reg
