#include "mime/QuotedPrintable.h"

#include "core/AsciiText.h"

namespace tarn {

std::string QuotedPrintable::decodeLines(const std::vector<std::string>& lines) {
    std::string out;
    std::size_t total = 0;
    for (const auto& l : lines)
        total += l.size() + 2;
    out.reserve(total);
    for (const auto& line : lines) {
        std::size_t end = line.size();
        while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t'))
            --end;
        bool soft = false;
        for (std::size_t i = 0; i < end; ++i) {
            const char c = line[i];
            if (c != '=') {
                out.push_back(c);
                continue;
            }
            if (i + 1 == end) {
                soft = true;
                break;
            }
            if (i + 2 < end) {
                const int hi = hexDigitValue(line[i + 1]);
                const int lo = hexDigitValue(line[i + 2]);
                if (hi >= 0 && lo >= 0) {
                    out.push_back(static_cast<char>(hi * 16 + lo));
                    i += 2;
                    continue;
                }
            }
            out.push_back(c);
        }
        if (!soft)
            out += "\r\n";
    }
    return out;
}

} // namespace tarn
