#pragma once
// Desktop entry files (*.desktop) of the installed applications, as the program reads them:
// for the icons of executables (FindIconName) and for the default browser's command line.

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The keys of a desktop entry's [Desktop Entry] group that the program uses, with the
// escapes of string values (\s, \n, \t, \r, \\) resolved.
struct DesktopEntry {
    std::string type, icon, tryExec, exec;
    bool hidden = false;
};

// Reads the desktop entry file at `path`. False when it cannot be read or is larger than any
// desktop entry (1 MiB); keys of other groups, comments and malformed lines are skipped.
bool ReadDesktopEntry(const std::string& path, DesktopEntry& out);

// The words of an Exec value (its escapes resolved as above): blanks separate them, double
// quotes group, and inside quotes a backslash takes the next character as it is. Field codes
// ("%u", "%f", ...) stay as written: what they stand for is the caller's to put in.
std::vector<std::string> SplitExec(std::string_view exec);

} // namespace platform
