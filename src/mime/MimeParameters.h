#pragma once

#include <string>
#include <string_view>

namespace tarn {

// The media type of a Content-Type value ("text/plain"), lower case, without parameters;
// empty when the value has none.
std::string mediaType(std::string_view contentType);

// A parameter of a Content-Type or Content-Disposition value, as UTF-8 text: quoted or bare,
// RFC 2231 extended ("name*=charset'lang'%XX") and continued ("name*0*=", "name*1=", ...),
// and encoded words in it decoded as mailers write them in file names. Empty when absent.
std::string mimeParameter(std::string_view value, std::string_view name);

} // namespace tarn
