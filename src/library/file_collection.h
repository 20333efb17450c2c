#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tallowcrest {

// A point in time as an 8-byte count of days since 30 December 1899 (the
// fraction is the time of day); 0 is the zero date.
using FileDate = double;

class colFFiles;

// One file: its names, size, time stamps and the key it is stored under.
class clsFFile {
public:
    std::int32_t FileSize() const { return m_fileSize; }
    std::string ShortName() const { return m_shortName; }
    std::string Key() const { return m_key; }
    std::string LongName() const { return m_longName; }
    void SetLongName(const std::string& name) { m_longName = name; }
    FileDate DateCreated() const { return m_dateCreated; }
    void SetDateCreated(FileDate date) { m_dateCreated = date; }
    FileDate DateAccessed() const { return m_dateAccessed; }
    void SetDateAccessed(FileDate date) { m_dateAccessed = date; }
    FileDate DateModified() const { return m_dateModified; }
    void SetDateModified(FileDate date) { m_dateModified = date; }

private:
    friend class colFFiles;

    void SetFileSize(std::int32_t size) { m_fileSize = size; }
    void SetShortName(const std::string& name) { m_shortName = name; }
    void SetKey(const std::string& key) { m_key = key; }

    std::string m_shortName;
    std::string m_longName;
    std::int32_t m_fileSize = 0;
    std::string m_key;
    FileDate m_dateCreated = 0;
    FileDate m_dateAccessed = 0;
    FileDate m_dateModified = 0;
};

// An ordered set of file records, each under a unique key. Positions are
// 1-based; keys are compared byte for byte.
class colFFiles {
public:
    using Records = std::vector<std::shared_ptr<clsFFile>>;

    std::int32_t Count() const;

    // Throws std::out_of_range when there is no such record.
    void Delete(int position);
    void Delete(const std::string& key);

    Records::const_iterator begin() const { return m_records.begin(); }
    Records::const_iterator end() const { return m_records.end(); }

    // Always answers a new record holding `key`. It is stored only when the
    // key is usable (not empty) and not already taken; otherwise the caller
    // gets a record that the collection does not hold.
    std::shared_ptr<clsFFile> Add(const std::string& key);

    // Throws std::out_of_range when there is no such record.
    std::shared_ptr<clsFFile> Item(int position) const;
    std::shared_ptr<clsFFile> Item(const std::string& key) const;

private:
    std::size_t indexOf(int position) const;

    Records m_records;
    std::unordered_map<std::string, std::shared_ptr<clsFFile>> m_byKey;
};

}  // namespace tallowcrest
