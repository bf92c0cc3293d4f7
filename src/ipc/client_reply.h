#pragma once
// The envelope the main client answers Nimbrel's requests with: "code", "errorCode", "summary"
// (strings) and the payload object "var", each taken only when present with that type.

#include <rapidjson/document.h>

#include <string>

struct ClientReply {
    std::string code;
    std::string errorCode;
    std::string summary;
    rapidjson::Document var;  // null when absent

    bool succeeded() const { return code == "S_OK"; }
};

// False when the text is not a JSON object; the request then counts as failed.
bool parseClientReply(const std::wstring& text, ClientReply& reply);
