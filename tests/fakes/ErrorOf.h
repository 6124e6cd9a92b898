#pragma once

#include "core/TarnError.h"

#include <string>

namespace tarn::test {

// The message of the TarnError that f throws, or "<no error>" when it returns normally.
template <typename F> std::string errorOf(F&& f) {
    try {
        f();
    } catch (const TarnError& e) {
        return e.what();
    }
    return "<no error>";
}

// The kind and message of the TarnError that f throws; kind Other and "<no error>" when it
// returns normally.
struct KindAndText {
    ErrorKind kind = ErrorKind::Other;
    std::string text = "<no error>";
};
template <typename F> KindAndText failureOf(F&& f) {
    try {
        f();
    } catch (const TarnError& e) {
        return {e.kind(), e.what()};
    }
    return {};
}

} // namespace tarn::test
