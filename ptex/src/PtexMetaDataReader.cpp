// Parsing and typed access of Ptex meta data.

#include "PtexMetaDataReader.h"

#include "PtexBytes.h"
#include "PtexIO.h"

#include <cstring>
#include <new>

PTEX_NAMESPACE_BEGIN

namespace {

int elementSize(MetaDataType type)
{
    static const int sizes[] = {1, 1, 2, 4, 4, 8};
    return sizes[type];
}

}  // namespace

PtexMetaDataReader::Entry& PtexMetaDataReader::entryFor(const std::string& key)
{
    auto found = _index.find(key);
    if (found != _index.end()) {
        Entry& entry = *_entries[found->second];
        entry.data.reset();
        entry.large = false;
        entry.loaded.store(false, std::memory_order_relaxed);
        return entry;
    }
    _index[key] = int(_entries.size());
    _entries.emplace_back(new Entry);
    _entries.back()->key = key;
    return *_entries.back();
}

bool PtexMetaDataReader::parseRecords(const uint8_t* bytes, size_t size)
{
    size_t pos = 0;
    while (pos < size) {
        const size_t keySize = bytes[pos];
        // keysize, key, datatype, datasize must all fit, the key must end with its NUL.
        if (keySize < 1 || size - pos < 1 + keySize + 1 + 4 || bytes[pos + keySize] != 0) return false;
        const char* key = reinterpret_cast<const char*>(bytes + pos + 1);
        if (strlen(key) != keySize - 1) return false;
        const uint8_t type = bytes[pos + 1 + keySize];
        const uint32_t dataSize = PtexIO::getU32(bytes + pos + 2 + keySize);
        const size_t dataPos = pos + 6 + keySize;
        if (type > mdt_double || size - dataPos < dataSize || dataSize % elementSize(MetaDataType(type)) != 0)
            return false;
        if (type == mdt_string && (dataSize == 0 || bytes[dataPos + dataSize - 1] != 0)) return false;
        Entry& entry = entryFor(key);
        entry.type = MetaDataType(type);
        entry.dataSize = dataSize;
        entry.data = allocateBytes(dataSize);
        if (!entry.data) return false;
        memcpy(entry.data.get(), bytes + dataPos, dataSize);
        entry.loaded.store(true, std::memory_order_relaxed);
        pos = dataPos + dataSize;
    }
    return true;
}

void PtexMetaDataReader::load(uint64_t smallPos, uint32_t smallZipSize, uint32_t smallMemSize, uint64_t lmdHeaderPos,
                              uint32_t lmdHeaderZipSize, uint32_t lmdHeaderMemSize, uint64_t lmdDataPos,
                              uint64_t lmdDataSize)
{
    // Sizes come from the file: a claim that no inflate of the stored bytes could reach is refused
    // before anything is allocated for it.
    if (!PtexIO::plausibleInflate(smallMemSize, smallZipSize) ||
        !PtexIO::plausibleInflate(lmdHeaderMemSize, lmdHeaderZipSize)) {
        _source.reportMetaDataError(ReadErrorCode::invalidMetaDataSize);
        return;
    }
    if (smallMemSize > 0) {
        std::unique_ptr<uint8_t[]> bytes = allocateBytes(smallMemSize);
        if (!bytes || !_source.readMetaDataBlock(smallPos, smallZipSize, bytes.get(), smallMemSize)) return;
        if (!parseRecords(bytes.get(), smallMemSize)) {
            _source.reportMetaDataError(ReadErrorCode::invalidMetaData);
            return;
        }
    }
    if (lmdHeaderMemSize > 0) {
        std::unique_ptr<uint8_t[]> bytes = allocateBytes(lmdHeaderMemSize);
        if (!bytes || !_source.readMetaDataBlock(lmdHeaderPos, lmdHeaderZipSize, bytes.get(), lmdHeaderMemSize)) return;
        size_t pos = 0;
        uint64_t itemPos = 0;
        while (pos < lmdHeaderMemSize) {
            const size_t keySize = bytes[pos];
            if (keySize < 1 || lmdHeaderMemSize - pos < 10 + keySize || bytes[pos + keySize] != 0) break;
            const char* key = reinterpret_cast<const char*>(&bytes[pos + 1]);
            if (strlen(key) != keySize - 1) break;
            const uint8_t type = bytes[pos + 1 + keySize];
            const uint32_t dataSize = PtexIO::getU32(&bytes[pos + 2 + keySize]);
            const uint32_t zipSize = PtexIO::getU32(&bytes[pos + 6 + keySize]);
            if (type > mdt_double || dataSize % elementSize(MetaDataType(type)) != 0 ||
                zipSize > lmdDataSize - itemPos || !PtexIO::plausibleInflate(dataSize, zipSize))
                break;
            Entry& entry = entryFor(key);
            entry.type = MetaDataType(type);
            entry.dataSize = dataSize;
            entry.large = true;
            entry.largePos = lmdDataPos + itemPos;
            entry.largeZipSize = zipSize;
            itemPos += zipSize;
            pos += 10 + keySize;
        }
        if (pos != lmdHeaderMemSize || itemPos != lmdDataSize) {
            _source.reportMetaDataError(ReadErrorCode::invalidLargeMetaDataHeader);
            return;
        }
    }
}

void PtexMetaDataReader::loadEdit(uint64_t pos, uint32_t zipSize, uint32_t memSize)
{
    if (!PtexIO::plausibleInflate(memSize, zipSize)) {
        _source.reportMetaDataError(ReadErrorCode::invalidMetaDataEditSize);
        return;
    }
    std::unique_ptr<uint8_t[]> bytes = allocateBytes(memSize);
    if (!bytes || !_source.readMetaDataBlock(pos, zipSize, bytes.get(), memSize)) return;
    if (!parseRecords(bytes.get(), memSize)) _source.reportMetaDataError(ReadErrorCode::invalidMetaDataEdit);
}

size_t PtexMetaDataReader::memoryBytes() const
{
    size_t bytes = sizeof(*this);
    for (const auto& entry : _entries)
        bytes += sizeof(Entry) + entry->key.size() + 32 + (entry->large ? 0 : entry->dataSize);
    return bytes;
}

int PtexMetaDataReader::indexOf(const char* key) const
{
    if (!key) return -1;
    auto found = _index.find(key);
    return found == _index.end() ? -1 : found->second;
}

void PtexMetaDataReader::getKey(int index, const char*& key, MetaDataType& type)
{
    if (index < 0 || index >= int(_entries.size())) return;
    key = _entries[index]->key.c_str();
    type = _entries[index]->type;
}

bool PtexMetaDataReader::findKey(const char* key, int& index, MetaDataType& type)
{
    index = indexOf(key);
    if (index < 0) return false;
    type = _entries[index]->type;
    return true;
}

const uint8_t* PtexMetaDataReader::valueOf(int index, MetaDataType type, uint32_t& size)
{
    if (index < 0 || index >= int(_entries.size())) return nullptr;
    Entry& entry = *_entries[index];
    if (entry.type != type) return nullptr;
    if (!entry.loaded.load(std::memory_order_acquire)) {
        // Large values load once: the lock serialises the first loads, the flag publishes them.
        std::lock_guard<std::mutex> lock(_largeValueMutex);
        if (!entry.loaded.load(std::memory_order_relaxed)) {
            std::unique_ptr<uint8_t[]> bytes = allocateBytes(entry.dataSize);
            if (!bytes || !_source.readMetaDataBlock(entry.largePos, entry.largeZipSize, bytes.get(), entry.dataSize))
                return nullptr;
            entry.data = std::move(bytes);
            _source.accountMetaDataMemory(int64_t(entry.dataSize));
            entry.loaded.store(true, std::memory_order_release);
        }
    }
    size = entry.dataSize;
    return entry.data.get();
}

template <typename T>
void PtexMetaDataReader::typedValue(int index, MetaDataType type, const T*& value, int& count)
{
    uint32_t size = 0;
    const uint8_t* data = valueOf(index, type, size);
    value = reinterpret_cast<const T*>(data);
    count = data ? int(size / sizeof(T)) : 0;
}

void PtexMetaDataReader::getValue(const char* key, const char*& value) { getValue(indexOf(key), value); }
void PtexMetaDataReader::getValue(int index, const char*& value)
{
    uint32_t size = 0;
    value = reinterpret_cast<const char*>(valueOf(index, mdt_string, size));
}
void PtexMetaDataReader::getValue(const char* key, const int8_t*& value, int& count)
{
    typedValue(indexOf(key), mdt_int8, value, count);
}
void PtexMetaDataReader::getValue(int index, const int8_t*& value, int& count)
{
    typedValue(index, mdt_int8, value, count);
}
void PtexMetaDataReader::getValue(const char* key, const int16_t*& value, int& count)
{
    typedValue(indexOf(key), mdt_int16, value, count);
}
void PtexMetaDataReader::getValue(int index, const int16_t*& value, int& count)
{
    typedValue(index, mdt_int16, value, count);
}
void PtexMetaDataReader::getValue(const char* key, const int32_t*& value, int& count)
{
    typedValue(indexOf(key), mdt_int32, value, count);
}
void PtexMetaDataReader::getValue(int index, const int32_t*& value, int& count)
{
    typedValue(index, mdt_int32, value, count);
}
void PtexMetaDataReader::getValue(const char* key, const float*& value, int& count)
{
    typedValue(indexOf(key), mdt_float, value, count);
}
void PtexMetaDataReader::getValue(int index, const float*& value, int& count)
{
    typedValue(index, mdt_float, value, count);
}
void PtexMetaDataReader::getValue(const char* key, const double*& value, int& count)
{
    typedValue(indexOf(key), mdt_double, value, count);
}
void PtexMetaDataReader::getValue(int index, const double*& value, int& count)
{
    typedValue(index, mdt_double, value, count);
}

PTEX_NAMESPACE_END
