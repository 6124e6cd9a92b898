// Linked into every test program of a sanitizer build: the sanitizers read the suppression
// files in tests/sanitizer by default. The runtimes read their options before any static
// initializer runs, so the paths come from these hooks, built at compile time. A
// "suppressions=" given in TSAN_OPTIONS or LSAN_OPTIONS takes the place of these. Programs
// the tests start (the built program itself) get the same option through the environment
// unless it already sets one.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)

#include <array>
#include <cstddef>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::string_view testsFolder = TARN_SOURCE_DIR "/tests";

using OptionText = std::array<char, sizeof(TARN_SOURCE_DIR) + 64>;

constexpr OptionText suppressionsOption(std::string_view fileName) {
    OptionText out{};
    std::size_t at = 0;
    for (std::string_view part : {std::string_view("suppressions="), testsFolder,
                                  std::string_view("/sanitizer/"), fileName})
        for (char c : part)
            out[at++] = c;
    return out;
}

} // namespace

#if defined(__SANITIZE_THREAD__)
namespace {
constexpr OptionText tsanOptions = suppressionsOption("tsan.supp");
}
extern "C" const char* __tsan_default_options() {
    return tsanOptions.data();
}
namespace {
const int tsanChildren = setenv("TSAN_OPTIONS", tsanOptions.data(), 0);
}
#endif

#if defined(__SANITIZE_ADDRESS__)
namespace {
constexpr OptionText lsanOptions = suppressionsOption("lsan.supp");
}
extern "C" const char* __lsan_default_options() {
    return lsanOptions.data();
}
namespace {
const int lsanChildren = setenv("LSAN_OPTIONS", lsanOptions.data(), 0);
}
#endif

#endif
