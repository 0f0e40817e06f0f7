// PtexMetaDataReader: the meta data of one texture, built on the first getMetaData() from the
// small meta data block, the large-item header and the meta data edit records (in that order,
// a later definition of a key replacing the earlier one at the same index). Large values are
// read on their first getValue.
#pragma once

#include "PtexReadError.h"
#include "Ptexture.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

PTEX_NAMESPACE_BEGIN

// What the meta data needs of its texture: zip blocks of the file, and where its errors and
// the memory of values loaded later go.
class MetaDataSource {
public:
    // Reads and inflates a zip block; a failure has been reported when this returns false.
    virtual bool readMetaDataBlock(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize) = 0;
    virtual void reportMetaDataError(ReadErrorCode code) = 0;
    virtual void accountMetaDataMemory(int64_t bytes) = 0;

protected:
    ~MetaDataSource() {}
};

class PtexMetaDataReader final : public PtexMetaData {
public:
    explicit PtexMetaDataReader(MetaDataSource& source) : _source(source) {}
    ~PtexMetaDataReader() override {}

    // Parse the file's meta data; a failed read is reported through the source and leaves the
    // entries parsed so far.
    void load(uint64_t smallPos, uint32_t smallZipSize, uint32_t smallMemSize, uint64_t lmdHeaderPos,
              uint32_t lmdHeaderZipSize, uint32_t lmdHeaderMemSize, uint64_t lmdDataPos, uint64_t lmdDataSize);
    void loadEdit(uint64_t pos, uint32_t zipSize, uint32_t memSize);
    size_t memoryBytes() const;

    void release() override {}
    int numKeys() override { return int(_entries.size()); }
    void getKey(int index, const char*& key, Ptex::MetaDataType& type) override;
    bool findKey(const char* key, int& index, Ptex::MetaDataType& type) override;
    void getValue(const char* key, const char*& value) override;
    void getValue(int index, const char*& value) override;
    void getValue(const char* key, const int8_t*& value, int& count) override;
    void getValue(int index, const int8_t*& value, int& count) override;
    void getValue(const char* key, const int16_t*& value, int& count) override;
    void getValue(int index, const int16_t*& value, int& count) override;
    void getValue(const char* key, const int32_t*& value, int& count) override;
    void getValue(int index, const int32_t*& value, int& count) override;
    void getValue(const char* key, const float*& value, int& count) override;
    void getValue(int index, const float*& value, int& count) override;
    void getValue(const char* key, const double*& value, int& count) override;
    void getValue(int index, const double*& value, int& count) override;

private:
    struct Entry {
        std::string key;
        MetaDataType type = mdt_string;
        uint32_t dataSize = 0;
        std::unique_ptr<uint8_t[]> data;  // inline values; large values once loaded
        bool large = false;
        uint64_t largePos = 0;
        uint32_t largeZipSize = 0;
        std::atomic<bool> loaded{false};
    };

    bool parseRecords(const uint8_t* bytes, size_t size);
    Entry& entryFor(const std::string& key);
    const uint8_t* valueOf(int index, MetaDataType type, uint32_t& size);
    template <typename T>
    void typedValue(int index, MetaDataType type, const T*& value, int& count);
    int indexOf(const char* key) const;

    MetaDataSource& _source;
    std::mutex _largeValueMutex;  // serialises the first load of each large value
    std::vector<std::unique_ptr<Entry>> _entries;
    std::map<std::string, int> _index;
};

PTEX_NAMESPACE_END
