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
    std::int32_t FileSize() const { return fileSize_; }
    std::string ShortName() const { return shortName_; }
    std::string Key() const { return key_; }
    std::string LongName() const { return longName_; }
    void SetLongName(const std::string& name) { longName_ = name; }
    FileDate DateCreated() const { return dateCreated_; }
    void SetDateCreated(FileDate date) { dateCreated_ = date; }
    FileDate DateAccessed() const { return dateAccessed_; }
    void SetDateAccessed(FileDate date) { dateAccessed_ = date; }
    FileDate DateModified() const { return dateModified_; }
    void SetDateModified(FileDate date) { dateModified_ = date; }

private:
    friend class colFFiles;

    void SetFileSize(std::int32_t size) { fileSize_ = size; }
    void SetShortName(const std::string& name) { shortName_ = name; }
    void SetKey(const std::string& key) { key_ = key; }

    std::string shortName_;
    std::string longName_;
    std::int32_t fileSize_ = 0;
    std::string key_;
    FileDate dateCreated_ = 0;
    FileDate dateAccessed_ = 0;
    FileDate dateModified_ = 0;
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

    Records::const_iterator begin() const { return records_.begin(); }
    Records::const_iterator end() const { return records_.end(); }

    // Always answers a new record holding `key`. It is stored only when the
    // key is usable (not empty) and not already taken; otherwise the caller
    // gets a record that the collection does not hold.
    std::shared_ptr<clsFFile> Add(const std::string& key);

    // Throws std::out_of_range when there is no such record.
    std::shared_ptr<clsFFile> Item(int position) const;
    std::shared_ptr<clsFFile> Item(const std::string& key) const;

private:
    std::size_t IndexOf(int position) const;

    Records records_;
    std::unordered_map<std::string, std::shared_ptr<clsFFile>> byKey_;
};

}  // namespace tallowcrest
