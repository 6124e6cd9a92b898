// HTML to text: any input converts to UTF-8 text of bounded size.
#include "core/Utf8.h"
#include "mime/HtmlToText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view html(reinterpret_cast<const char*>(data), size);
    const std::string text = htmlToText(html);
    // Each input byte gives at most a few characters (an entity, a bullet, the indentation,
    // a link's target written out once more).
    if (!isValidUtf8(text) || text.size() > 64 * size + 64) {
        std::fprintf(stderr, "converted text is not UTF-8 or too long\n");
        std::abort();
    }
    return 0;
}
