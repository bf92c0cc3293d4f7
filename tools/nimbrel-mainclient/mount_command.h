#pragma once
// `mount PATH` and `unmount PATH`: the requests a main client sends to bring a mirror up or down,
// with the runtime state of the command line.

#include <string>
#include <vector>

#include "client_options.h"

// The body of a "mountMirror" or "unmountMirror" request for `path`, with the runtime state of the
// command line.
std::string mountBody(const std::string& path, const ClientOptions& options);

// Turns the positional words of a mount or unmount into a "mountMirror" or "unmountMirror"
// request to send. False with `error` set when the words do not fit.
bool parseMountAction(const std::vector<std::string>& positional, ClientOptions& options, std::string& error);
