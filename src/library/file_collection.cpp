#include "library/file_collection.h"

#include <algorithm>
#include <stdexcept>

namespace tallowcrest {

std::int32_t colFFiles::Count() const
{
    return static_cast<std::int32_t>(records_.size());
}

std::size_t colFFiles::IndexOf(int position) const
{
    if (position < 1 || static_cast<std::size_t>(position) > records_.size())
        throw std::out_of_range("no file record at position " + std::to_string(position));
    return static_cast<std::size_t>(position) - 1;
}

void colFFiles::Delete(int position)
{
    const auto at = records_.begin() + static_cast<std::ptrdiff_t>(IndexOf(position));
    byKey_.erase((*at)->key_);
    records_.erase(at);
}

void colFFiles::Delete(const std::string& key)
{
    const auto found = byKey_.find(key);
    if (found == byKey_.end())
        throw std::out_of_range("no file record under key \"" + key + "\"");
    records_.erase(std::find(records_.begin(), records_.end(), found->second));
    byKey_.erase(found);
}

std::shared_ptr<clsFFile> colFFiles::Add(const std::string& key)
{
    auto record = std::make_shared<clsFFile>();
    record->SetKey(key);
    if (!key.empty() && byKey_.emplace(key, record).second)
        records_.push_back(record);
    return record;
}

std::shared_ptr<clsFFile> colFFiles::Item(int position) const
{
    return records_[IndexOf(position)];
}

std::shared_ptr<clsFFile> colFFiles::Item(const std::string& key) const
{
    const auto found = byKey_.find(key);
    if (found == byKey_.end())
        throw std::out_of_range("no file record under key \"" + key + "\"");
    return found->second;
}

}  // namespace tallowcrest
