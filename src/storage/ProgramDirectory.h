#pragma once
// Where the three files live.

#include <string>

// The directory of the three files for a program started as `argv0`:
// - argv0 cut at its last "/" (the "/" removed), when it holds one;
// - otherwise the directory of the running executable (/proc/self/exe);
// - but $XDG_DATA_HOME/orvane (default ~/.local/share/orvane, created when missing) for an
//   installed copy (../share/orvane/OrvaneHelp.html beside the executable's directory) or
//   when that directory cannot be written.
std::string FindProgramDirectory(const std::string& argv0);

// The directory of the running executable (/proc/self/exe), without the trailing "/".
std::string ExecutableDirectory();

// Path of a file of the program directory: dir + "/" + name (so "" + "/Logs.log" is the root,
// as designed, though FindProgramDirectory never returns an empty directory).
std::string ProgramFilePath(const std::string& directory, const char* name);

constexpr const char* kDisabledListFile = "BlackList.log";
constexpr const char* kSettingsFile = "Settings.dat";
constexpr const char* kEventLogFile = "Logs.log";
constexpr const char* kManualFile = "OrvaneHelp.html";
