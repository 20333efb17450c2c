#include "library/file_collection.h"

#include <algorithm>
#include <stdexcept>

namespace tallowcrest {

std::int32_t colFFiles::Count() const
{
    return static_cast<std::int32_t>(m_records.size());
}

std::size_t colFFiles::indexOf(int position) const
{
    if (position < 1 || static_cast<std::size_t>(position) > m_records.size())
        throw std::out_of_range("no file record at position " + std::to_string(position));
    return static_cast<std::size_t>(position) - 1;
}

void colFFiles::Delete(int position)
{
    const auto at = m_records.begin() + static_cast<std::ptrdiff_t>(indexOf(position));
    m_byKey.erase((*at)->m_key);
    m_records.erase(at);
}

void colFFiles::Delete(const std::string& key)
{
    const auto found = m_byKey.find(key);
    if (found == m_byKey.end())
        throw std::out_of_range("no file record under key \"" + key + "\"");
    m_records.erase(std::find(m_records.begin(), m_records.end(), found->second));
    m_byKey.erase(found);
}

std::shared_ptr<clsFFile> colFFiles::Add(const std::string& key)
{
    auto record = std::make_shared<clsFFile>();
    record->SetKey(key);
    if (!key.empty() && m_byKey.emplace(key, record).second)
        m_records.push_back(record);
    return record;
}

std::shared_ptr<clsFFile> colFFiles::Item(int position) const
{
    return m_records[indexOf(position)];
}

std::shared_ptr<clsFFile> colFFiles::Item(const std::string& key) const
{
    const auto found = m_byKey.find(key);
    if (found == m_byKey.end())
        throw std::out_of_range("no file record under key \"" + key + "\"");
    return found->second;
}

}  // namespace tallowcrest
