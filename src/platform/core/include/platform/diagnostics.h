#pragma once
// Failures inside a stand-in that the Windows function it serves has no way to report (a void
// function such as SHChangeNotify whose record could not be kept). They go to the process's log
// once the suite's logging bridge has taken them over, to standard error until then.

#include <functional>
#include <string>

namespace nimbrel::platform {

void setDiagnosticSink(std::function<void(const std::string&)> sink);
void reportDiagnostic(const std::string& message);

}  // namespace nimbrel::platform
