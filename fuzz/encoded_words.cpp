// Header decoding: any header value comes out as UTF-8, at most three bytes per byte read.
#include "core/Utf8.h"
#include "mime/EncodedWordDecoder.h"
#include "mime/MailMessage.h"
#include "mime/MimeParameters.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    const std::string text = EncodedWordDecoder::decode(value);
    if (!isValidUtf8(text) || text.size() > 3 * size) {
        std::fprintf(stderr, "decoded header is not UTF-8 or too long\n");
        std::abort();
    }
    if (!isValidUtf8(decodeHeaderValue(value))) {
        std::fprintf(stderr, "envelope text is not UTF-8\n");
        std::abort();
    }
    mimeParameter(value, "filename");
    return 0;
}
