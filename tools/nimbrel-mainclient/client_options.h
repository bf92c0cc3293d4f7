#pragma once
// The command line of nimbrel-mainclient.

#include <string>

#include "content_misbehaviour.h"

struct ClientOptions {
    int mode = -1;
    std::string action;   // "send" or "serve"
    std::string command;  // send: the command name
    std::string body;     // send: the JSON body (may be empty)
    std::string subject;  // send: the folder a mount or unmount is about, named when it fails

    // serve: the runtime state answered to "checkOnline".
    bool withRuntimeState = true;
    bool loggedIn = true;
    bool contextMenuAllowed = true;
    // serve, sync disk: whether the suite's desktop application runs beside the client.
    bool desktopApp = true;
    int status = 0;
    int reason = 0;
    // serve: log requests but never answer them.
    bool silent = false;
    // serve: the cloud folder whose files are served, the mounted folder its tree is pushed into
    // (polled for changes every `pollMs`), and how the content server misbehaves.
    std::string cloudDir;
    std::string mountPath;
    int pollMs = 1000;
    ContentMisbehaviour misbehaviour;
};

// False with `error` set when the command line is not usable.
bool parseClientOptions(int argc, char** argv, ClientOptions& options, std::string& error);
const char* clientUsage();
