#pragma once

#include <functional>
#include <string>

#include <sys/types.h>

namespace tarn {

// Files that hold mail or secrets (tarn.ini, the mail list, the deletion log) are for their
// owner alone: created 0600, and a file found readable or writable by others is narrowed to
// its owner's bits once, when it is next written, and the narrowing is reported.
inline constexpr mode_t kPrivateFileMode = 0600;
// A working folder the program creates itself.
inline constexpr mode_t kPrivateFolderMode = 0700;

// The mode a rewrite of a file whose current mode is `current` gets: the owner's bits only.
constexpr mode_t privateModeOf(mode_t current) {
    return current & 07700;
}

// Where reports of narrowed files go; by default a line on standard error. Set once at start
// (tests bind a recorder); the sink may be called from any thread.
using PrivacyNoticeSink = std::function<void(const std::string& text)>;
void setPrivacyNoticeSink(PrivacyNoticeSink sink);
void reportPrivacyNotice(const std::string& text);

// The text reported when path was narrowed from mode `from` to `to`.
std::string narrowedNotice(const std::string& path, mode_t from, mode_t to);

// Narrows the open file fd (named path) when others may read or write it; true when it did.
bool narrowOpenFile(int fd, const std::string& path);
// The same by name; a missing file is left alone.
bool narrowFile(const std::string& path);

// Replaces target with data through a temporary file made from tmpl (a path ending in
// "XXXXXX", in target's folder) and given mode before anything is written, then renamed over
// target, so a reader sees the old file or the new one, never a part. sync: the data reaches
// the disk before the rename. Returns 0, or the errno of the step that failed; the temporary
// file is gone then.
int replaceFile(std::string tmpl, const std::string& target, const std::string& data, mode_t mode,
                bool sync);

} // namespace tarn
