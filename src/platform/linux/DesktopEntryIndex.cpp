#include "linux/DesktopEntryIndex.h"

#include "platform/FileIo.h"
#include "platform/ProcessServices.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::size_t kMaxEntrySize = 1 << 20; // a desktop entry is a few kilobytes

void SplitInto(const char* list, std::vector<std::string>& out)
{
    std::string_view rest(list);
    while (!rest.empty()) {
        std::size_t colon = rest.find(':');
        std::string_view item = rest.substr(0, colon);
        if (!item.empty())
            out.emplace_back(item);
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
}

void RemoveDuplicates(std::vector<std::string>& list)
{
    std::vector<std::string> unique;
    for (auto& item : list)
        if (std::find(unique.begin(), unique.end(), item) == unique.end())
            unique.push_back(std::move(item));
    list = std::move(unique);
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The escapes of a desktop entry's string values.
std::string Unescape(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: out += '\\'; out += value[i]; break;
        }
    }
    return out;
}

bool IsExecutableFile(const std::string& path)
{
    struct stat info{};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

} // namespace

DesktopEntryIndex::DesktopEntryIndex(const std::vector<std::string>& applicationDirs,
                                     const std::vector<std::string>& searchPath)
    : m_searchPath(searchPath)
{
    std::vector<std::string> seenIds;
    for (const auto& dir : applicationDirs)
        ReadDirectory(dir, dir, "", seenIds, 0);
}

std::vector<std::string> DesktopEntryIndex::DefaultApplicationDirs()
{
    std::vector<std::string> dataDirs;
    if (const char* home = std::getenv("XDG_DATA_HOME"); home && *home == '/')
        dataDirs.emplace_back(home);
    else if (const char* userHome = std::getenv("HOME"); userHome && *userHome)
        dataDirs.push_back(std::string(userHome) + "/.local/share");
    if (const char* dirs = std::getenv("XDG_DATA_DIRS"); dirs && *dirs)
        SplitInto(dirs, dataDirs);
    else
        SplitInto("/usr/local/share:/usr/share", dataDirs);
    dataDirs.emplace_back("/usr/share");
    for (auto& dir : dataDirs)
        dir += "/applications";
    RemoveDuplicates(dataDirs);
    return dataDirs;
}

std::vector<std::string> DesktopEntryIndex::DefaultSearchPath()
{
    std::vector<std::string> path;
    if (const char* env = std::getenv("PATH"))
        SplitInto(env, path);
    SplitInto("/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", path);
    RemoveDuplicates(path);
    return path;
}

std::string DesktopEntryIndex::ExecProgram(std::string_view exec)
{
    std::vector<std::string> words = SplitExec(exec);
    std::size_t first = 0;
    if (!words.empty() && (words[0] == "env" || words[0].ends_with("/env"))) {
        first = 1;
        while (first < words.size() &&
               (words[first].find('=') != std::string::npos || words[first].starts_with('-')))
            ++first;
    }
    return first < words.size() ? words[first] : std::string();
}

void DesktopEntryIndex::ReadDirectory(const std::string& root, const std::string& dir,
                                      const std::string& idPrefix,
                                      std::vector<std::string>& seenIds, int depth)
{
    if (depth > 8)
        return;
    DIR* handle = opendir(dir.c_str());
    if (!handle)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(handle))
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    closedir(handle);
    std::sort(names.begin(), names.end());

    for (const auto& name : names) {
        std::string path = dir + "/" + name;
        struct stat info{};
        if (stat(path.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            ReadDirectory(root, path, idPrefix + name + "-", seenIds, depth + 1);
            continue;
        }
        if (!S_ISREG(info.st_mode) || !name.ends_with(".desktop"))
            continue;
        std::string id = idPrefix + name;
        if (std::find(seenIds.begin(), seenIds.end(), id) != seenIds.end())
            continue;
        seenIds.push_back(std::move(id));
        ReadEntry(path);
    }
}

bool ReadDesktopEntry(const std::string& path, DesktopEntry& out)
{
    // Read as the program's own files are: a regular file only (a FIFO named like an entry
    // must not hang the caller), and no further than any entry can reach.
    const Result<std::string> read = ReadSystemFile(path, kMaxEntrySize + 1);
    if (!read || read->size() > kMaxEntrySize)
        return false;
    const std::string& text = *read;

    out = DesktopEntry{};
    bool inMainGroup = false;
    std::string_view rest(text);
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view key = Trim(line.substr(0, equals));
        std::string value = Unescape(Trim(line.substr(equals + 1)));
        if (key == "Type")
            out.type = std::move(value);
        else if (key == "Icon")
            out.icon = std::move(value);
        else if (key == "TryExec")
            out.tryExec = std::move(value);
        else if (key == "Exec")
            out.exec = std::move(value);
        else if (key == "Hidden")
            out.hidden = value == "true";
    }
    return true;
}

std::vector<std::string> SplitExec(std::string_view exec)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < exec.size()) {
        while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t'))
            ++i;
        if (i == exec.size())
            break;
        std::string word;
        bool quoted = false;
        for (; i < exec.size(); ++i) {
            char c = exec[i];
            if (quoted) {
                if (c == '\\' && i + 1 < exec.size())
                    word += exec[++i];
                else if (c == '"')
                    quoted = false;
                else
                    word += c;
            } else if (c == '"') {
                quoted = true;
            } else if (c == ' ' || c == '\t') {
                break;
            } else {
                word += c;
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

void DesktopEntryIndex::ReadEntry(const std::string& file)
{
    DesktopEntry entry;
    if (!ReadDesktopEntry(file, entry) || entry.hidden || entry.type != "Application"
        || entry.icon.empty())
        return;
    if (!entry.tryExec.empty())
        AddProgram(entry.tryExec, entry.icon);
    if (!entry.exec.empty())
        AddProgram(ExecProgram(entry.exec), entry.icon);
}

void DesktopEntryIndex::AddProgram(const std::string& program, const std::string& icon)
{
    if (program.empty())
        return;
    std::string path;
    if (program.front() == '/') {
        path = program;
    } else if (program.find('/') == std::string::npos) {
        for (const auto& dir : m_searchPath) {
            std::string candidate = dir + "/" + program;
            if (IsExecutableFile(candidate)) {
                path = std::move(candidate);
                break;
            }
        }
    }
    if (path.empty())
        return;
    m_icons.try_emplace(path, icon);
    // /proc/<pid>/exe shows the file with every link resolved.
    if (char* real = realpath(path.c_str(), nullptr)) {
        m_icons.try_emplace(real, icon);
        std::free(real);
    }
}

std::string DesktopEntryIndex::Find(const std::string& executablePath) const
{
    auto it = m_icons.find(executablePath);
    return it == m_icons.end() ? std::string() : it->second;
}

std::string FindIconName(const std::string& executablePath)
{
    if (executablePath.empty())
        return {};
    // Read on first use only: the desktop entries are a few hundred small files.
    static const DesktopEntryIndex index(DesktopEntryIndex::DefaultApplicationDirs(),
                                         DesktopEntryIndex::DefaultSearchPath());
    static std::mutex cacheMutex;
    static std::unordered_map<std::string, std::string> cache;

    std::lock_guard lock(cacheMutex);
    auto cached = cache.find(executablePath);
    if (cached != cache.end())
        return cached->second;
    std::string icon = index.Find(executablePath);
    if (icon.empty()) {
        if (char* real = realpath(executablePath.c_str(), nullptr)) {
            icon = index.Find(real);
            std::free(real);
        }
    }
    return cache.emplace(executablePath, std::move(icon)).first->second;
}

} // namespace platform
