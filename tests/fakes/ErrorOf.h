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

} // namespace tarn::test
