#include "storage/ProgramDirectory.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool IsWritableDirectory(const std::string& dir)
{
    const std::string probe = dir.empty() ? std::string("/") : dir;
    return ::faccessat(AT_FDCWD, probe.c_str(), W_OK, AT_EACCESS) == 0;
}

// An installed copy carries its manual in the shared data tree beside its bin directory,
// wherever the prefix is.
std::string InstalledManual(const std::string& exeDir)
{
    return exeDir + "/../share/orvane/" + kManualFile;
}

bool IsInstalledLayout(const std::string& exeDir)
{
    return Exists(InstalledManual(exeDir));
}

Result<> MakeDirectories(const std::string& path)
{
    for (std::string::size_type pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return LastError();
    }
    // Something that is not a folder may stand in the way ("already exists" above).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return LastError();
    if (!S_ISDIR(st.st_mode))
        return std::errc::not_a_directory;
    return {};
}

std::string HomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

// A directory relative to the working directory, as a program started as "./orvane" names its
// own, made absolute: every message names the files by a path that means the same anywhere.
// The empty directory (the root) and absolute ones stay as they are.
std::string Absolute(const std::string& dir)
{
    if (dir.empty() || dir.front() == '/')
        return dir;
    char resolved[PATH_MAX];
    if (::realpath(dir.c_str(), resolved) != nullptr)
        return resolved;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        return dir;
    std::string base(cwd);
    if (base.back() != '/')
        base += '/';
    return base + dir;
}

} // namespace

DirectoryChoice UserDataDirectory()
{
    std::string base;
    // Relative values are invalid by the base-directory rules and are ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const std::string home = HomeDirectory();
        if (home.empty())
            return {};
        base = home + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string dir = (base == "/" ? std::string() : base) + "/orvane";
    const std::error_code notCreated = MakeDirectories(dir).error();
    return {std::move(dir), notCreated};
}

std::string ExecutableDirectory()
{
    char target[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
    if (n <= 0)
        return {};
    std::string path(target, static_cast<std::size_t>(n));
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::optional<std::string> DirectoryOfProgramPath(const std::string& argv0)
{
    std::string::size_type slash = argv0.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    return argv0.substr(0, slash);
}

DirectoryChoice ChooseProgramDirectory(const std::string& argv0)
{
    if (argv0.find('/') != std::string::npos)
        return ChooseProgramDirectory(argv0, std::string());
    return ChooseProgramDirectory(argv0, ExecutableDirectory());
}

std::string FindProgramDirectory(const std::string& argv0)
{
    return ChooseProgramDirectory(argv0).path;
}

DirectoryChoice ChooseProgramDirectory(const std::string& argv0, const std::string& executableDirectory)
{
    std::string dir;
    if (std::optional<std::string> cut = DirectoryOfProgramPath(argv0)) {
        dir = Absolute(*cut);
    } else {
        // Started through PATH: the directory of the executable, not the root as argv0 would
        // suggest.
        dir = executableDirectory;
        if (dir.empty()) {
            DirectoryChoice data = UserDataDirectory();
            return data.path.empty() ? DirectoryChoice{dir, {}} : data;
        }
    }

    const std::string exeDir = dir.empty() ? std::string("/") : dir;
    if (IsInstalledLayout(exeDir) || !IsWritableDirectory(dir)) {
        DirectoryChoice data = UserDataDirectory();
        if (!data.path.empty())
            return data;
    }
    return {dir, {}};
}

std::string FindProgramDirectory(const std::string& argv0, const std::string& executableDirectory)
{
    return ChooseProgramDirectory(argv0, executableDirectory).path;
}

std::string ProgramFilePath(const std::string& directory, const char* name)
{
    return directory + "/" + name;
}

std::string ManualPath(const std::string& executableDirectory)
{
    std::string beside = executableDirectory + "/" + kManualFile;
    if (!Exists(beside) && IsInstalledLayout(executableDirectory))
        return InstalledManual(executableDirectory);
    return beside;
}
