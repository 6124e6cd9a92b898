#pragma once

#include <stdexcept>
#include <string>

namespace tarn {

// Every failure the program raises carries a message; inside a check it is caught and
// recorded, on the main thread it is dropped by the application's error handler.
class TarnError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace tarn
