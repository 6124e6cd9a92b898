#include "platform/ShippedFiles.h"

#include <algorithm>
#include <filesystem>

namespace tarn {

namespace fs = std::filesystem;

std::string ShippedFiles::folderFor(const std::string& programPath) {
    if (programPath.empty())
        return std::string();
    const fs::path dir = fs::path(programPath).parent_path();
    for (const fs::path& candidate : {dir.parent_path() / SubFolder, dir / SubFolder}) {
        std::error_code ec;
        if (fs::is_directory(candidate, ec))
            return candidate.lexically_normal().string();
    }
    return std::string();
}

std::string ShippedFiles::ownProgramPath() {
    std::error_code ec;
    const fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::vector<std::string> ShippedFiles::copyMissing(const std::string& from, const std::string& to,
                                                   std::vector<std::string>& errors) {
    std::vector<std::string> copied;
    std::error_code ec;
    fs::directory_iterator it(from, ec);
    if (ec) {
        errors.push_back("Cannot read " + from + ": " + ec.message());
        return copied;
    }
    for (const fs::directory_entry& e : it) {
        if (!e.is_regular_file(ec))
            continue;
        const fs::path target = fs::path(to) / e.path().filename();
        if (fs::exists(fs::symlink_status(target, ec)))
            continue;
        // skip_existing: a file that appears meanwhile is still not replaced.
        if (fs::copy_file(e.path(), target, fs::copy_options::skip_existing, ec))
            copied.push_back(e.path().filename().string());
        else if (ec)
            errors.push_back("Cannot copy " + e.path().string() + " to " + to + ": " +
                             ec.message());
    }
    std::sort(copied.begin(), copied.end());
    return copied;
}

} // namespace tarn
