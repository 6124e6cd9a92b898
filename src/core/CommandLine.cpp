#include "core/CommandLine.h"

#include "core/IniFile.h"

namespace tarn {

CommandLineBefore comandlinebefore(const std::vector<std::string>& args,
                                   std::string currentFolder) {
    CommandLineBefore r;
    r.WorkingFolder = std::move(currentFolder);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& w = args[i];
        const bool hasArg = i + 1 < args.size();
        if (w == "-d" && hasArg) {
            std::string folder = args[i + 1];
            if (folder.empty() || folder == "\\" || folder == "/")
                continue;
            if (folder.back() == '\\' || folder.back() == '/')
                folder.pop_back();
            r.WorkingFolder = std::move(folder);
        } else if (w == "-addmenu") {
            r.AddMenu = true;
        } else if (w == "-prefs" && hasArg) {
            r.PrefsName = args[i + 1];
        }
    }
    return r;
}

CommandLineAfter comandlineafter(const std::vector<std::string>& args) {
    CommandLineAfter r;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& w = args[i];
        if (w == "-offline") {
            r.Offline = true;
        } else if ((w == "-x" || w == "-y") && i + 1 < args.size()) {
            if (const auto v = parseProfileInteger(args[i + 1]))
                (w == "-x" ? r.X : r.Y) = *v;
        }
    }
    return r;
}

} // namespace tarn
