#include "CPathPool.h"

namespace service {

CPathPool::Path CPathPool::Intern(std::string_view path)
{
    if (path.empty())
        return nullptr;
    if (auto found = m_paths.find(path); found != m_paths.end())
        return *found;
    if (m_paths.size() >= m_pruneAt) {
        Prune();
        m_pruneAt = 2 * m_paths.size() + 256;
    }
    Path copy = std::make_shared<const std::string>(path);
    m_paths.insert(copy);
    return copy;
}

void CPathPool::Prune()
{
    for (auto at = m_paths.begin(); at != m_paths.end();)
        at = at->use_count() == 1 ? m_paths.erase(at) : std::next(at);
}

} // namespace service
