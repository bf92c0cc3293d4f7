#pragma once
// The suite's IPC module, as its users see it: a channel object with four operations in a fixed
// slot order, and a receiver interface that the module calls for each incoming request. The
// module is loaded at run time and reached only through CreateIpcInterface.
//
// Texts crossing the interface are wide strings: a command name, "\r\n" and a JSON body.

#include <string>

// Called by the module on its own threads, once per incoming request. `ipcName` identifies the
// request; handing it back to IIpcInterface::reply answers exactly that request, even when many
// requests are being handled at once. Returning without a reply closes the request unanswered.
class IRequestNotify {
public:
    virtual int OnRequest(const char* ipcName, const std::wstring& text) = 0;

protected:
    ~IRequestNotify() = default;
};

// Results of IIpcInterface::request.
enum IpcRequestResult : int {
    kIpcRequestOk = 0,
    kIpcRequestNotStarted = 1,   // start was never called
    kIpcRequestPeerGone = 2,     // nobody listens on the peer's channel
    kIpcRequestTimedOut = 3,     // the peer took the request but did not answer in time
    kIpcRequestNoReply = 4,      // the peer closed the request without answering
    kIpcRequestBrokenFrame = 5,  // no connection could be made though the peer may listen (out of
                                 // descriptors, access), or it broke or carried something that is
                                 // not a frame
};

class IIpcInterface {
public:
    // Slot 0: listen on `receiveChannel`, send to `sendChannel`. The listener comes up in the
    // background; an empty `receiveChannel` makes a channel that only sends. Answers false only
    // when the call itself is refused (already started).
    virtual bool start(const char* receiveChannel, const char* sendChannel) = 0;
    // Slot 1: true once the own listener is up and the peer's channel answers.
    virtual bool isReady() = 0;
    // Slot 2: sends `text` to the peer and blocks until its reply is in `reply` (left empty when
    // there is none). A peer that is gone fails at once, a silent one after the time-out
    // (NIMBREL_IPC_TIMEOUT_MS, default 20000 ms).
    virtual int request(const std::wstring& text, std::wstring& reply) = 0;
    // Slot 3: answers the request named `ipcName`; 0 when it was delivered, -1 when no such
    // request waits (already answered or abandoned by its requester).
    virtual int reply(const char* ipcName, const std::wstring& text) = 0;

protected:
    ~IIpcInterface() = default;
};

// The module's export. Stores a process-lifetime channel object in `*channel` and calls
// `receiver` for incoming requests. Answers 0, or -1 when an argument is null.
extern "C" int CreateIpcInterface(IIpcInterface** channel, IRequestNotify* receiver);
using CreateIpcInterfaceFn = int (*)(IIpcInterface** channel, IRequestNotify* receiver);
