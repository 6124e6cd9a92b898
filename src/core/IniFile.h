#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarn {

// Integer parsing shared by the settings reader and the command line. Accepts an optional
// sign, then decimal digits or hexadecimal digits after "$", "0x" or "0X". The whole text
// must be the number: "12abc", "", "0x" and "--1" are not numbers. Values outside the 64-bit
// range are not numbers either.
std::optional<long long> parseProfileNumber(std::string_view text);
// The same, limited to the 32-bit int range (anything outside is not a number).
std::optional<int> parseProfileInteger(std::string_view text);
// A colour: any number from -2147483648 to 4294967295, kept as its 32-bit pattern, so both
// "2147483652" and "-2147483644" (and "$80000004") read as system colour 4.
std::optional<std::uint32_t> parseProfileColor(std::string_view text);

// A Windows-style profile (INI) file held in memory. Reading never fails; unknown sections,
// keys, comments and blank lines stay where they are when the document is written back.
//
// Rules:
// - A line whose first non-blank byte is '[' starts a section; its name runs to the first ']'
//   (or to the end of the line) with surrounding blanks removed. Lines before the first
//   section belong to no section and are never read as keys.
// - In a section, a line holding '=' whose first non-blank byte is not ';' or '#' is a key;
//   the key is the text before the first '=' with blanks removed. Other lines are kept as
//   they are and ignored.
// - Section and key names match without regard to ASCII case. Where a section or a key
//   occurs twice, the first occurrence is the one read and written.
// - A value is the text after the first '=' with surrounding blanks (space, tab) removed,
//   cut at a NUL byte and then to at most 2047 bytes. Quotes are not special.
// - Lines end in LF or CR LF. Every line is written back with its own ending; new lines take
//   the ending of the document's first line (LF for a new document). A missing line break at
//   the end of the file is added. All other bytes are kept as they are.
class IniFile {
public:
    static constexpr std::size_t kMaxValueLength = 2047;

    IniFile() = default;
    // Loads the file at path; a missing or unreadable file gives an empty document.
    explicit IniFile(std::string path);
    static IniFile fromText(std::string_view text);
    // For read-modify-write: loads the file like the constructor, but throws TarnError when
    // the file exists and cannot be read, so that a write never replaces content it did not
    // see. A missing file gives an empty document.
    static IniFile loadForUpdate(std::string path);

    const std::string& path() const { return m_path; }
    void setPath(std::string path) { m_path = std::move(path); }

    // Replaces the document with the file's content; false when it could not be read (the
    // document is then empty).
    bool load();
    // The whole document as it would be written.
    std::string text() const;
    // Replaces the file at path() with the document, atomically: a temporary file in the same
    // folder is written, flushed to disk and renamed over the old one. On any failure the old
    // file is untouched and TarnError is thrown.
    void save() const;

    bool sectionExists(std::string_view section) const;
    bool valueExists(std::string_view section, std::string_view key) const;
    std::vector<std::string> sectionNames() const;

    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Not a number (see parseProfileInteger) or missing -> def.
    int readInteger(std::string_view section, std::string_view key, int def) const;
    // Read as an integer whose default is 1 or 0; true when that integer is not 0.
    bool readBool(std::string_view section, std::string_view key, bool def) const;
    std::uint32_t readColor(std::string_view section, std::string_view key,
                            std::uint32_t def) const;

    // Replaces the key's line in place, or adds it after the section's last key, creating the
    // section at the end of the document. Throws TarnError for a value holding CR, LF or NUL
    // and for names a profile file cannot hold.
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, long long value);
    void writeBool(std::string_view section, std::string_view key, bool value);
    // Written as the unsigned decimal of the 32-bit pattern.
    void writeColor(std::string_view section, std::string_view key, std::uint32_t value);
    // Removes every section of that name with all its lines.
    void eraseSection(std::string_view section);

private:
    struct Line {
        std::string raw; // without its line ending
        bool crlf = false;
        bool isKey = false;
        std::string key; // trimmed key name (isKey only)
    };
    struct Section {
        Line header;
        std::string name;
        std::vector<Line> lines;
    };

    void parse(std::string_view text);
    const Section* findSection(std::string_view name) const;
    Section* findSection(std::string_view name);
    void rebuildIndex() const;

    std::string m_path;
    bool m_crlf = false; // ending of new lines
    std::vector<Line> m_preamble;
    std::vector<Section> m_sections;
    // Lower-cased section name -> index of its first occurrence.
    mutable std::unordered_map<std::string, std::size_t> m_index;
    mutable bool m_indexValid = false;
};

} // namespace tarn
