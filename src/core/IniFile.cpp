#include "core/IniFile.h"

#include "core/PrivateFile.h"

#include "core/AsciiText.h"
#include "core/TarnError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace {

// A section header line: first non-blank byte is '['.
bool headerName(std::string_view line, std::string& name) {
    std::string_view t = line;
    // A UTF-8 byte order mark in front of the first header is not part of the name.
    if (t.substr(0, 3) == "\xEF\xBB\xBF")
        t.remove_prefix(3);
    t = trimSpaceTab(t);
    if (t.empty() || t.front() != '[')
        return false;
    t.remove_prefix(1);
    const auto close = t.find(']');
    if (close != std::string_view::npos)
        t = t.substr(0, close);
    name = std::string(trimSpaceTab(t));
    return true;
}

void checkName(std::string_view name, const char* what) {
    if (name.empty() || name != trimSpaceTab(name))
        throw TarnError(std::string("Invalid ") + what + " name \"" + std::string(name) + "\"");
    for (char c : name) {
        if (c == '\r' || c == '\n' || c == '\0')
            throw TarnError(std::string("Invalid ") + what + " name: line break or NUL");
    }
}

std::string errnoText(int err) {
    return std::strerror(err);
}

} // namespace

std::optional<long long> parseProfileNumber(std::string_view text) {
    std::string_view t = text;
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (!t.empty() && t.front() == '$') {
        base = 16;
        t.remove_prefix(1);
    } else if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty())
        return std::nullopt;
    // Accumulate as a negative number so that the most negative value fits.
    const long long minValue = std::numeric_limits<long long>::min();
    long long acc = 0;
    for (char c : t) {
        const int d = base == 16 ? hexDigitValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0)
            return std::nullopt;
        if (acc < (minValue + d) / base)
            return std::nullopt;
        acc = acc * base - d;
    }
    if (negative)
        return acc;
    if (acc == minValue)
        return std::nullopt;
    return -acc;
}

std::optional<int> parseProfileInteger(std::string_view text) {
    const auto v = parseProfileNumber(text);
    if (!v || *v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*v);
}

std::optional<std::uint32_t> parseProfileColor(std::string_view text) {
    const auto v = parseProfileNumber(text);
    if (!v || *v < std::numeric_limits<std::int32_t>::min() ||
        *v > static_cast<long long>(std::numeric_limits<std::uint32_t>::max()))
        return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

IniFile::IniFile(std::string path) : m_path(std::move(path)) {
    load();
}

IniFile IniFile::fromText(std::string_view text) {
    IniFile f;
    f.parse(text);
    return f;
}

IniFile IniFile::loadForUpdate(std::string path) {
    IniFile f;
    f.m_path = std::move(path);
    if (!f.load()) {
        std::error_code ec;
        const bool missing = !std::filesystem::exists(f.m_path, ec) && !ec;
        if (!missing)
            throw TarnError("Cannot read \"" + f.m_path + "\"; it is left unchanged");
    }
    return f;
}

bool IniFile::load() {
    // Only a regular file (or a link to one) holds settings; a folder of that name does not.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_path, ec)) {
        parse({});
        return false;
    }
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        parse({});
        return false;
    }
    std::ostringstream buf;
    buf << in.rdbuf();
    if (in.bad()) {
        parse({});
        return false;
    }
    parse(buf.str());
    return true;
}

void IniFile::parse(std::string_view text) {
    m_preamble.clear();
    m_sections.clear();
    m_indexValid = false;
    m_crlf = false;
    bool firstLine = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line;
        bool crlf = false;
        if (nl == std::string_view::npos) {
            line = text.substr(pos);
            pos = text.size();
        } else {
            line = text.substr(pos, nl - pos);
            pos = nl + 1;
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
                crlf = true;
            }
        }
        if (firstLine)
            m_crlf = crlf;
        firstLine = false;

        Line l{std::string(line), crlf, false, {}};
        std::string name;
        if (headerName(line, name)) {
            m_sections.push_back(Section{std::move(l), std::move(name), {}});
            continue;
        }
        if (m_sections.empty()) {
            m_preamble.push_back(std::move(l));
            continue;
        }
        const std::string_view t = trimSpaceTab(line);
        const auto eq = t.find('=');
        if (eq != std::string_view::npos && t.front() != ';' && t.front() != '#') {
            l.isKey = true;
            l.key = std::string(trimSpaceTab(t.substr(0, eq)));
        }
        m_sections.back().lines.push_back(std::move(l));
    }
}

std::string IniFile::text() const {
    std::string out;
    const auto put = [&out](const Line& l) {
        out += l.raw;
        out += l.crlf ? "\r\n" : "\n";
    };
    for (const auto& l : m_preamble)
        put(l);
    for (const auto& s : m_sections) {
        put(s.header);
        for (const auto& l : s.lines)
            put(l);
    }
    return out;
}

void IniFile::rebuildIndex() const {
    m_index.clear();
    for (std::size_t i = 0; i < m_sections.size(); ++i)
        m_index.try_emplace(lowerAsciiCopy(m_sections[i].name), i);
    m_indexValid = true;
}

const IniFile::Section* IniFile::findSection(std::string_view name) const {
    if (!m_indexValid)
        rebuildIndex();
    const auto it = m_index.find(lowerAsciiCopy(name));
    return it == m_index.end() ? nullptr : &m_sections[it->second];
}

IniFile::Section* IniFile::findSection(std::string_view name) {
    return const_cast<Section*>(static_cast<const IniFile*>(this)->findSection(name));
}

bool IniFile::sectionExists(std::string_view section) const {
    return findSection(section) != nullptr;
}

bool IniFile::valueExists(std::string_view section, std::string_view key) const {
    return value(section, key).has_value();
}

std::vector<std::string> IniFile::sectionNames() const {
    std::vector<std::string> names;
    for (const auto& s : m_sections)
        names.push_back(s.name);
    return names;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    const Section* s = findSection(section);
    if (!s)
        return std::nullopt;
    for (const auto& l : s->lines) {
        if (!l.isKey || !equalsNoCase(l.key, key))
            continue;
        std::string_view v = l.raw;
        v.remove_prefix(v.find('=') + 1);
        v = trimSpaceTab(v);
        const auto nul = v.find('\0');
        if (nul != std::string_view::npos)
            v = v.substr(0, nul);
        if (v.size() > kMaxValueLength)
            v = v.substr(0, kMaxValueLength);
        return std::string(v);
    }
    return std::nullopt;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view def) const {
    auto v = value(section, key);
    return v ? std::move(*v) : std::string(def);
}

int IniFile::readInteger(std::string_view section, std::string_view key, int def) const {
    const auto v = value(section, key);
    if (!v)
        return def;
    return parseProfileInteger(*v).value_or(def);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool def) const {
    return readInteger(section, key, def ? 1 : 0) != 0;
}

std::uint32_t IniFile::readColor(std::string_view section, std::string_view key,
                                 std::uint32_t def) const {
    const auto v = value(section, key);
    if (!v)
        return def;
    return parseProfileColor(*v).value_or(def);
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    checkName(section, "section");
    if (section.find(']') != std::string_view::npos)
        throw TarnError("Invalid section name \"" + std::string(section) + "\"");
    checkName(key, "key");
    if (key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';' ||
        key.front() == '#')
        throw TarnError("Invalid key name \"" + std::string(key) + "\"");
    for (char c : value) {
        if (c == '\r' || c == '\n' || c == '\0')
            throw TarnError("The value of " + std::string(key) +
                            " holds a line break or NUL byte and cannot be stored");
    }

    std::string raw = std::string(key) + "=" + std::string(value);
    Section* s = findSection(section);
    if (!s) {
        m_sections.push_back(Section{
            Line{"[" + std::string(section) + "]", m_crlf, false, {}}, std::string(section), {}});
        // Kept up to date rather than rebuilt: a save adds thousands of filter sections, and a
        // rebuild per section made that quadratic.
        if (m_indexValid)
            m_index.try_emplace(lowerAsciiCopy(section), m_sections.size() - 1);
        s = &m_sections.back();
    }
    std::size_t insertAt = 0;
    for (std::size_t i = 0; i < s->lines.size(); ++i) {
        Line& l = s->lines[i];
        if (!l.isKey)
            continue;
        if (equalsNoCase(l.key, key)) {
            l.raw = std::move(raw);
            l.key = std::string(key);
            return;
        }
        insertAt = i + 1;
    }
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                    Line{std::move(raw), m_crlf, true, std::string(key)});
}

void IniFile::writeInteger(std::string_view section, std::string_view key, long long value) {
    writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    writeString(section, key, value ? "1" : "0");
}

void IniFile::writeColor(std::string_view section, std::string_view key, std::uint32_t value) {
    writeString(section, key, std::to_string(value));
}

void IniFile::eraseSection(std::string_view section) {
    const auto before = m_sections.size();
    std::erase_if(m_sections, [&](const Section& s) { return equalsNoCase(s.name, section); });
    if (m_sections.size() != before)
        m_indexValid = false;
}

void IniFile::save() const {
    namespace fs = std::filesystem;
    if (m_path.empty())
        throw TarnError("Cannot write the settings: no file name");
    const auto fail = [&](const std::string& why) {
        return TarnError("Cannot write \"" + m_path + "\": " + why);
    };

    // Write through a symbolic link to the file it names, so the link survives.
    fs::path target = m_path;
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    fs::path dir = target.parent_path();
    if (dir.empty())
        dir = ".";

    // Settings hold passwords: a new file is private to its owner, and a rewrite keeps only
    // the owner's bits of an existing file.
    mode_t mode = kPrivateFileMode;
    mode_t oldMode = mode;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw fail("it is a folder");
        oldMode = st.st_mode & 07777;
        mode = privateModeOf(oldMode);
    }

    const std::string tmpl = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    if (const int err = replaceFile(tmpl, target.string(), text(), mode, true))
        throw fail(errnoText(err));
    if (oldMode != mode)
        reportPrivacyNotice(narrowedNotice(target.string(), oldMode, mode));
    // Make the rename itself durable; the new content is already in place either way.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

} // namespace tarn
