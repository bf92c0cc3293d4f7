#include "ipc/untrusted_json.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <cmath>

namespace {

// Forwards the parser's events to the document and stops the parse at the first container that
// would open beyond the depth limit.
class DepthLimitedHandler {
public:
    explicit DepthLimitedHandler(rapidjson::Document& document) : document_(document) {}

    bool Null() { return document_.Null(); }
    bool Bool(bool value) { return document_.Bool(value); }
    bool Int(int value) { return document_.Int(value); }
    bool Uint(unsigned value) { return document_.Uint(value); }
    bool Int64(int64_t value) { return document_.Int64(value); }
    bool Uint64(uint64_t value) { return document_.Uint64(value); }
    // RapidJSON turns some numbers beyond the range of a double (9992.59e310) into infinity instead
    // of refusing them; no JSON writer can put that back, so such a text is refused here.
    bool Double(double value) { return std::isfinite(value) && document_.Double(value); }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool copy) {
        return document_.RawNumber(text, length, copy);
    }
    bool String(const char* text, rapidjson::SizeType length, bool copy) {
        return document_.String(text, length, copy);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool copy) { return document_.Key(text, length, copy); }
    bool StartObject() { return enter() && document_.StartObject(); }
    bool EndObject(rapidjson::SizeType members) {
        --depth_;
        return document_.EndObject(members);
    }
    bool StartArray() { return enter() && document_.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) {
        --depth_;
        return document_.EndArray(elements);
    }

private:
    bool enter() { return ++depth_ <= kMaxJsonDepth; }

    rapidjson::Document& document_;
    unsigned depth_ = 0;
};

}  // namespace

rapidjson::ParseResult parseUntrustedJson(rapidjson::Document& document, const char* text, std::size_t length) {
    rapidjson::ParseResult result;
    auto generate = [&](rapidjson::Document& target) {
        rapidjson::MemoryStream memory(text, length);
        rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
        DepthLimitedHandler handler(target);
        rapidjson::Reader reader;
        result = reader.Parse<rapidjson::kParseIterativeFlag>(input, handler);
        return !result.IsError();
    };
    document.Populate(generate);
    return result;
}
