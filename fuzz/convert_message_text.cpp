// The message window's text conversion on any stored body, with each choice of its two options.
#include "mime/ConvertMessageText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool convertHtml = data[0] & 1;
    const bool wrapText = data[0] & 2;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string shown = ConvertMessageText(body, convertHtml, wrapText);
    if (!convertHtml && !wrapText && shown != body) {
        std::fprintf(stderr, "the body changed with both options off\n");
        std::abort();
    }
    return 0;
}
