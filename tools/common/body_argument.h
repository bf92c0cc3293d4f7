#pragma once
// A request body given on the command line. One argument is capped at 128 KiB by the kernel, so a
// larger body comes from a file ("@FILE") or from standard input ("-"); any other text is the body.

#include <string>

// False with `error` naming the file when it cannot be read.
bool readBodyArgument(const std::string& argument, std::string& body, std::string& error);
