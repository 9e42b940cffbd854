#pragma once
// Icon names for executables, from the desktop entries of the installed applications: an
// entry names its program in TryExec or as the first word of Exec, and its icon in Icon.

#include "platform/DesktopEntry.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

class DesktopEntryIndex {
public:
    // Reads every "*.desktop" file under each of `applicationDirs` (subdirectories included),
    // the earlier directories taking precedence: an entry id met again later is ignored, and
    // an executable named by several entries keeps the icon of the first. Bare program names
    // are looked up in `searchPath`.
    DesktopEntryIndex(const std::vector<std::string>& applicationDirs,
                      const std::vector<std::string>& searchPath);

    // The icon name for an executable's path (as /proc/<pid>/exe gives it); empty when no
    // entry names it.
    std::string Find(const std::string& executablePath) const;

    std::size_t Size() const { return m_icons.size(); }

    // $XDG_DATA_HOME (or ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share)
    // and /usr/share, each with "/applications".
    static std::vector<std::string> DefaultApplicationDirs();
    // $PATH, then the usual system program directories.
    static std::vector<std::string> DefaultSearchPath();

    // The program an Exec value starts: its first word, unquoted, past an "env" and its
    // assignments. Empty when there is none.
    static std::string ExecProgram(std::string_view exec);

private:
    void ReadDirectory(const std::string& root, const std::string& dir, const std::string& idPrefix,
                       std::vector<std::string>& seenIds, int depth);
    void ReadEntry(const std::string& file);
    void AddProgram(const std::string& program, const std::string& icon);

    std::vector<std::string> m_searchPath;
    std::unordered_map<std::string, std::string> m_icons; // executable path -> icon name
};

} // namespace platform
