// The archive's entries: one TDirItem per entry in a growable array, with a hashed index of the
// entries' lower-cased names so that "is this name in the archive?" needs no linear search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/secret_string.h"
#include "text/component.h"
#include "text/streams.h"
#include "text/wide_strings.h"

namespace zip {

enum TZipProcessOperation : std::uint8_t {
    poAdd = 0,
    poMove = 1,
    poDelete = 2,
    poUpdate = 3,
    poExtract = 4,
    poTest = 5,
    poRename = 6,
    poChangeAttr = 7,
    poChangeComment = 8,
    poMakeSFX = 9,
};

// Encryption of stored data as read from an archive.
enum : std::uint8_t { seNone = 0, sePkzip = 1, seAes128 = 2, seAes192 = 3, seAes256 = 4 };

// The central file header of the ZIP format (46 bytes on disk, little-endian).
struct TCentralHeader {
    static constexpr std::size_t kSize = 46;
    static constexpr std::uint32_t kSignature = 0x02014B50;

    std::uint32_t Signature = 0;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;  // bit 0: encrypted
    std::uint16_t Method = 0;
    std::uint16_t ModTime = 0;
    std::uint16_t ModDate = 0;
    std::uint32_t Crc32 = 0;
    std::uint32_t CompressedSize = 0;    // 0xFFFFFFFF when the Zip64 value holds it
    std::uint32_t UncompressedSize = 0;  // likewise
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;
    std::uint16_t CommentLength = 0;
    std::uint16_t DiskNumberStart = 0;
    std::uint16_t InternalAttr = 0;
    std::uint32_t ExternalAttr = 0;
    std::uint32_t LocalHeaderOffset = 0;  // 0xFFFFFFFF when the Zip64 value holds it

    void Store(std::uint8_t* out) const;  // writes kSize bytes
    static TCentralHeader Load(const std::uint8_t* in);
    bool operator==(const TCentralHeader&) const = default;
};

// One extra field; the item owns its data (copies are deep).
struct TExtraField {
    std::uint16_t Tag = 0;
    std::vector<std::uint8_t> Data;
    std::uint16_t Size() const { return static_cast<std::uint16_t>(Data.size() > 0xFFFF ? 0xFFFF : Data.size()); }
    bool operator==(const TExtraField&) const = default;
};

struct TDirItem {
    TCentralHeader Header;
    std::u16string Name;     // as stored in the archive ("/" separators)
    std::u16string OldName;  // compared when an item is copied for poRename
    std::string Comment;
    std::vector<TExtraField> ExtraFields;
    std::uint8_t StoredEncryption = seNone;
    bool HasZip64 = false;
    std::uint64_t UncompressedSize64 = 0;
    std::uint64_t CompressedSize64 = 0;
    std::uint64_t LocalHeaderOffset64 = 0;
    std::uint32_t DiskNumberStart64 = 0;
    bool Pending = false;  // (re)written at the next commit
    TSecretString Password;
    // The stream that supplies the data. A stream the item does not own is the caller's: it is
    // only repositioned, never freed, whatever happens to the item.
    std::shared_ptr<TStream> SourceStream;
    bool OwnsSourceStream = false;
    std::int64_t SourcePosition = 0;
    std::u16string SourceFileName;
    std::uint16_t TargetMethod = 0;
    std::uint8_t ItemCompressionMode = 0;  // also the deflate level 0..9
    TZipProcessOperation ItemOperation = poAdd;
};

// Where an item's local header lies and the volume it starts on, from the Zip64 extra when the
// central record's field overflowed.
inline std::int64_t EffectiveLocalOffset(const TDirItem& item) {
    return item.Header.LocalHeaderOffset == 0xFFFFFFFFu ? static_cast<std::int64_t>(item.LocalHeaderOffset64)
                                                        : static_cast<std::int64_t>(item.Header.LocalHeaderOffset);
}
inline std::int64_t EffectiveDiskStart(const TDirItem& item) {
    return item.Header.DiskNumberStart == 0xFFFF ? std::int64_t{item.DiskNumberStart64}
                                                 : std::int64_t{item.Header.DiskNumberStart};
}

struct THashItem {
    THashItem* Next = nullptr;
    std::u16string Key;
    std::int32_t Value = 0;
};

// Chained hash from wide keys to integers; a newer link shadows an older one with the same key.
class TZipStringHash {
public:
    explicit TZipStringHash(std::size_t size);
    virtual ~TZipStringHash();
    TZipStringHash(const TZipStringHash&) = delete;
    TZipStringHash& operator=(const TZipStringHash&) = delete;

    virtual std::uint32_t HashOf(const std::u16string& key) const;
    void Add(const std::u16string& key, std::int32_t value);
    // The link field holding the first link with key (or holding null when there is none).
    THashItem** Find(const std::u16string& key);
    void Remove(const std::u16string& key);
    // Removes the link with this key and value only, leaving links of equal keys alone.
    void Remove(const std::u16string& key, std::int32_t value);
    std::int32_t ValueOf(const std::u16string& key) const;
    void Clear();
    std::size_t Size() const { return buckets_.size(); }

private:
    std::vector<THashItem*> buckets_;
};

// A string list with lazily built hashed indexes over its entries and over the names before "=".
class TZipHashedStringList : public TUniStringList {
public:
    ~TZipHashedStringList() override;

    void Clear() override;
    void Delete(int index) override;
    void Put(int index, const std::u16string& s) override;
    int IndexOf(const std::u16string& s) const override;
    int IndexOfName(const std::u16string& name) const override;
    void SetCaseSensitive(bool caseSensitive) override;

    // Replaces the text of entry index and keeps the value index current.
    void ReplaceName(int index, const std::u16string& newText);
    // Bucket count of the value index; 0 while it is absent.
    std::size_t ValueHashSize() const { return valueHash_ ? valueHash_->Size() : 0; }

protected:
    void InsertItem(int index, const std::u16string& s, TObjectRef obj) override;
    void ExchangeItems(int index1, int index2) override;

private:
    std::u16string KeyOf(const std::u16string& s) const;
    void UpdateValueHash() const;
    void UpdateNameHash() const;
    void MarkStale() const { valueHashValid_ = nameHashValid_ = false; }

    mutable std::unique_ptr<TZipStringHash> valueHash_;
    mutable std::unique_ptr<TZipStringHash> nameHash_;
    mutable bool valueHashValid_ = false;
    mutable bool nameHashValid_ = false;
};

class TZipDirArray {
public:
    TZipDirArray();
    ~TZipDirArray();
    TZipDirArray(const TZipDirArray&) = delete;
    TZipDirArray& operator=(const TZipDirArray&) = delete;

    int GetCount() const { return count_; }
    void SetCount(int n);
    int Capacity() const { return static_cast<int>(items_.size()); }

    TDirItem& GetItem(int i);
    const TDirItem& GetItem(int i) const;
    TDirItem GetItemCopy(int i) const;
    void SetItem(int i, const TDirItem& item);
    void Delete(int i);
    bool FindItem(const std::u16string& name, int& index) const;
    void RenameItem(int i, const std::u16string& newName);
    void Clear();
    void Assign(const TZipDirArray& source);

    TZipHashedStringList& Names() { return names_; }
    const TZipHashedStringList& Names() const { return names_; }

    int GrowBy = 500;
    int MaxGrowBy = 10000;
    // Names the component in error messages; may stay null.
    const TComponent* Owner = nullptr;

private:
    [[noreturn]] void Fail(int nativeCode) const;

    std::vector<TDirItem> items_;  // Capacity slots; the first count_ are live
    int count_ = 0;
    TZipHashedStringList names_;
};

}  // namespace zip
