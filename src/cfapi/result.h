#pragma once
// A value or an error, as the engine's read operations answer. Reading the value of an error
// result is a caller bug: it is logged at critical level and the stored value is still returned,
// so callers test isValid() first.

#include <utility>

namespace nimbrel::cfapi {
void logResultAssert(const char* condition, const char* file, int line);
}  // namespace nimbrel::cfapi

template <typename T>
class Result {
public:
    Result(T value) : _value(std::move(value)) {}
    static Result error(T fallback = T{}) {
        Result result(std::move(fallback));
        result._isError = true;
        return result;
    }

    bool isValid() const { return !_isError; }

    const T& get() const {
        if (_isError) nimbrel::cfapi::logResultAssert("!_isError", "result", __LINE__);
        return _value;
    }
    const T& operator*() const { return get(); }

private:
    T _value;
    bool _isError = false;
};
