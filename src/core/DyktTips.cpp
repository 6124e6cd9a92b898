#include "core/DyktTips.h"

#include "core/IniFile.h"

#include <fstream>

namespace tarn {

namespace {

IniFile readCapped(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return IniFile();
    std::string text(DyktTips::kMaxFileBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return IniFile::fromText(text);
}

} // namespace

DyktTips::DyktTips(std::string path, std::string homePage)
    : m_path(std::move(path)), m_homePage(std::move(homePage)) {
    m_count = readCapped(m_path).readInteger(Section, "Count", 0);
}

std::string DyktTips::next() {
    // Written so that a Count of INT_MAX cannot overflow and a negative one behaves as 0.
    m_number = (m_number >= m_count || m_number < 0) ? 1 : m_number + 1;
    const auto tip = readCapped(m_path).value(Section, std::to_string(m_number));
    return tip ? *tip : defaultText();
}

std::string DyktTips::defaultText() const {
    return m_homePage + DefaultTextTail;
}

} // namespace tarn
