#pragma once
// Executable paths kept once, however many processes run the same program: most of a
// machine's processes share a few dozen paths, so 10,000 processes cost one copy of each.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

namespace service {

class CPathPool {
public:
    using Path = std::shared_ptr<const std::string>;

    // The pool's copy of `path`; null for an empty path.
    Path Intern(std::string_view path);
    std::size_t Size() const { return m_paths.size(); }

private:
    // Drops the paths that no process holds any more.
    void Prune();

    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
        std::size_t operator()(const Path& path) const { return (*this)(std::string_view(*path)); }
    };
    struct Equal {
        using is_transparent = void;
        static std::string_view View(std::string_view text) { return text; }
        static std::string_view View(const Path& path) { return *path; }
        template <class A, class B>
        bool operator()(const A& a, const B& b) const
        {
            return View(a) == View(b);
        }
    };
    std::unordered_set<Path, Hash, Equal> m_paths;
    std::size_t m_pruneAt = 256;
};

} // namespace service
