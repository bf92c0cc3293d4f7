#pragma once
// The JSON reply envelope shared by the IPC channel and the context-menu socket: the handler's
// own members first, then "code", and "errorCode" and "summary" only on failures. Each owner
// (CServiceIpcManager, SocketApi) keeps one envelope named after itself so that the log lines
// of a refused envelope carry the owner's qualified member name.

#include <rapidjson/document.h>

#include <string>

class ReplyEnvelope {
public:
    explicit ReplyEnvelope(std::string owner);

    // Checks the success/failure rule (a success carries neither error code nor summary, a
    // failure carries both), appends the members and serialises without whitespace into `out`.
    // Answers 0, or -1 with `out` cleared when the rule is broken.
    int getResult(const std::string& code, const std::string& errorCode, const std::string& summary,
                  rapidjson::Document& document, std::wstring& out) const;
    int returnSuccess(rapidjson::Document& document, std::wstring& out) const;
    int returnFailure(const std::string& code, const std::string& errorCode, const std::string& summary,
                      std::wstring& out, rapidjson::Document& document) const;

    static constexpr const char* kSuccess = "S_OK";
    static constexpr const char* kFailure = "S_FAIL";

private:
    std::string owner_;
};
