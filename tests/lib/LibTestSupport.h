#pragma once
// Small helpers of the library's tests.
#include <krm/krm.hpp>

#include <string>

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The message of the krm::Error that `call` throws; "(no error)" when it
// returns.
template <class Call> std::string ErrorOf(Call call)
{
    try {
        call();
    } catch (const krm::Error& error) {
        return error.what();
    }
    return "(no error)";
}
