#pragma once
// Where the three files live.

#include "platform/Result.h"

#include <optional>
#include <string>
#include <system_error>

// The directory of the three files, and when it is the user's data directory and could not be
// created, why (the files cannot be written there then; the program says so at start).
struct DirectoryChoice {
    std::string path;
    std::error_code notCreated;
};

// The directory of the three files for a program started as `argv0`:
// - argv0 cut at its last "/" (the "/" removed), when it holds one, made absolute against the
//   working directory when it is relative;
// - otherwise the directory of the running executable (/proc/self/exe);
// - but $XDG_DATA_HOME/orvane (default ~/.local/share/orvane, created when missing) for an
//   installed copy (../share/orvane/OrvaneHelp.html beside the executable's directory) or
//   when that directory cannot be written.
DirectoryChoice ChooseProgramDirectory(const std::string& argv0);
// The same, the directory alone.
std::string FindProgramDirectory(const std::string& argv0);
// The first rule alone: argv0 up to its last "/" ("/orvane" gives "", the root); nothing when
// argv0 holds no "/".
std::optional<std::string> DirectoryOfProgramPath(const std::string& argv0);
// The same with the executable's directory given, for an argv0 without "/" (tests, callers
// that know it). An empty `executableDirectory` (unknown) sends the files to the user's
// data directory.
DirectoryChoice ChooseProgramDirectory(const std::string& argv0, const std::string& executableDirectory);
std::string FindProgramDirectory(const std::string& argv0, const std::string& executableDirectory);

// $XDG_DATA_HOME/orvane when XDG_DATA_HOME is an absolute path, else $HOME/.local/share/orvane
// (the home directory from the user database when HOME is unset), created with its parents
// (mode 0700) when missing; `notCreated` says why it could not be. An empty path when no home
// directory can be found.
DirectoryChoice UserDataDirectory();

// The directory of the running executable (/proc/self/exe), without the trailing "/" ("/" for
// an executable in the root); empty when the link cannot be read.
std::string ExecutableDirectory();

// The user's manual of the program in `executableDirectory`: beside it, or, for an installed
// copy without one beside it, in the shared data tree (../share/orvane/).
std::string ManualPath(const std::string& executableDirectory);

// Path of a file of the program directory: dir + "/" + name, so the empty directory of a
// program started as "/orvane" is the root ("" + "/Logs.log" = "/Logs.log").
std::string ProgramFilePath(const std::string& directory, const char* name);

constexpr const char* kDisabledListFile = "BlackList.log";
constexpr const char* kSettingsFile = "Settings.dat";
constexpr const char* kEventLogFile = "Logs.log";
constexpr const char* kManualFile = "OrvaneHelp.html";
