#include "archive/dir_items.h"

#include <algorithm>

#include "archive/le_fields.h"
#include "text/code_pages.h"
#include "text/errors.h"
#include "text/wide_text.h"

namespace zip {

void TCentralHeader::Store(std::uint8_t* out) const {
    std::uint8_t* p = out;
    Put32(p, Signature);
    Put16(p, VersionMadeBy);
    Put16(p, VersionNeeded);
    Put16(p, Flags);
    Put16(p, Method);
    Put16(p, ModTime);
    Put16(p, ModDate);
    Put32(p, Crc32);
    Put32(p, CompressedSize);
    Put32(p, UncompressedSize);
    Put16(p, NameLength);
    Put16(p, ExtraLength);
    Put16(p, CommentLength);
    Put16(p, DiskNumberStart);
    Put16(p, InternalAttr);
    Put32(p, ExternalAttr);
    Put32(p, LocalHeaderOffset);
}

TCentralHeader TCentralHeader::Load(const std::uint8_t* in) {
    const std::uint8_t* p = in;
    TCentralHeader h;
    h.Signature = Get32(p);
    h.VersionMadeBy = Get16(p);
    h.VersionNeeded = Get16(p);
    h.Flags = Get16(p);
    h.Method = Get16(p);
    h.ModTime = Get16(p);
    h.ModDate = Get16(p);
    h.Crc32 = Get32(p);
    h.CompressedSize = Get32(p);
    h.UncompressedSize = Get32(p);
    h.NameLength = Get16(p);
    h.ExtraLength = Get16(p);
    h.CommentLength = Get16(p);
    h.DiskNumberStart = Get16(p);
    h.InternalAttr = Get16(p);
    h.ExternalAttr = Get32(p);
    h.LocalHeaderOffset = Get32(p);
    return h;
}

// --- TZipStringHash -------------------------------------------------------------------------------

TZipStringHash::TZipStringHash(std::size_t size) : buckets_(std::max<std::size_t>(size, 1), nullptr) {}

TZipStringHash::~TZipStringHash() { Clear(); }

std::uint32_t TZipStringHash::HashOf(const std::u16string& key) const {
    std::uint32_t h = 0;
    for (const char c : WideStringToStringEx(key, CP_ACP)) h = ((h << 2) | (h >> 30)) ^ static_cast<unsigned char>(c);
    return h;
}

void TZipStringHash::Add(const std::u16string& key, std::int32_t value) {
    THashItem*& head = buckets_[HashOf(key) % buckets_.size()];
    head = new THashItem{head, key, value};
}

THashItem** TZipStringHash::Find(const std::u16string& key) {
    THashItem** link = &buckets_[HashOf(key) % buckets_.size()];
    while (*link && (*link)->Key != key) link = &(*link)->Next;
    return link;
}

void TZipStringHash::Remove(const std::u16string& key) {
    THashItem** link = Find(key);
    if (THashItem* item = *link) {
        *link = item->Next;
        delete item;
    }
}

void TZipStringHash::Remove(const std::u16string& key, std::int32_t value) {
    THashItem** link = &buckets_[HashOf(key) % buckets_.size()];
    while (*link && ((*link)->Key != key || (*link)->Value != value)) link = &(*link)->Next;
    if (THashItem* item = *link) {
        *link = item->Next;
        delete item;
    }
}

std::int32_t TZipStringHash::ValueOf(const std::u16string& key) const {
    for (const THashItem* item = buckets_[HashOf(key) % buckets_.size()]; item; item = item->Next)
        if (item->Key == key) return item->Value;
    return -1;
}

void TZipStringHash::Clear() {
    for (THashItem*& head : buckets_) {
        while (head) {
            THashItem* next = head->Next;
            delete head;
            head = next;
        }
    }
}

// --- TZipHashedStringList -------------------------------------------------------------------------

TZipHashedStringList::~TZipHashedStringList() = default;

std::u16string TZipHashedStringList::KeyOf(const std::u16string& s) const {
    return CaseSensitive() ? s : ZipWideLowerCase(s);
}

void TZipHashedStringList::InsertItem(int index, const std::u16string& s, TObjectRef obj) {
    const bool append = index == GetCount();
    TUniStringList::InsertItem(index, s, obj);
    if (!append) {
        MarkStale();  // later entries moved
        return;
    }
    if (valueHash_ && valueHashValid_) {
        valueHash_->Add(KeyOf(s), index);
        // More than five entries a bucket: drop it; the next lookup builds a larger one.
        if (static_cast<std::size_t>(GetCount()) > 5 * valueHash_->Size()) {
            valueHash_.reset();
            valueHashValid_ = false;
        }
    }
    if (nameHash_ && nameHashValid_) {
        const std::size_t sep = s.find(NameValueSeparator);
        if (sep != std::u16string::npos) nameHash_->Add(KeyOf(s.substr(0, sep)), index);
    }
}

void TZipHashedStringList::ExchangeItems(int index1, int index2) {
    TUniStringList::ExchangeItems(index1, index2);
    MarkStale();
}

void TZipHashedStringList::Put(int index, const std::u16string& s) {
    TUniStringList::Put(index, s);
    MarkStale();
}

void TZipHashedStringList::SetCaseSensitive(bool caseSensitive) {
    if (caseSensitive != CaseSensitive()) MarkStale();  // keys change with the case rule
    TUniStringList::SetCaseSensitive(caseSensitive);
}

void TZipHashedStringList::ReplaceName(int index, const std::u16string& newText) {
    const std::u16string oldText = Get(index);
    TUniStringList::Put(index, newText);
    if (valueHash_ && valueHashValid_) {
        // Only this entry's link: another entry may carry the same key.
        valueHash_->Remove(KeyOf(oldText), index);
        valueHash_->Add(KeyOf(newText), index);
    }
    nameHashValid_ = false;
}

void TZipHashedStringList::Delete(int index) {
    TUniStringList::Delete(index);
    MarkStale();
}

void TZipHashedStringList::Clear() {
    TUniStringList::Clear();
    if (valueHash_) valueHash_->Clear();
    valueHashValid_ = valueHash_ != nullptr;
    nameHashValid_ = false;
}

void TZipHashedStringList::UpdateValueHash() const {
    if (valueHash_ && valueHashValid_) return;
    if (!valueHash_)
        valueHash_ =
            std::make_unique<TZipStringHash>(std::max<std::size_t>(static_cast<std::size_t>(GetCount()), 1000));
    else valueHash_->Clear();
    for (int i = 0; i < GetCount(); ++i) valueHash_->Add(KeyOf(Get(i)), i);
    valueHashValid_ = true;
}

void TZipHashedStringList::UpdateNameHash() const {
    if (nameHash_ && nameHashValid_) return;
    if (!nameHash_) nameHash_ = std::make_unique<TZipStringHash>(256);
    else nameHash_->Clear();
    for (int i = 0; i < GetCount(); ++i) {
        const std::u16string s = Get(i);
        const std::size_t sep = s.find(NameValueSeparator);
        if (sep != std::u16string::npos) nameHash_->Add(KeyOf(s.substr(0, sep)), i);
    }
    nameHashValid_ = true;
}

int TZipHashedStringList::IndexOf(const std::u16string& s) const {
    UpdateValueHash();
    return valueHash_->ValueOf(KeyOf(s));
}

int TZipHashedStringList::IndexOfName(const std::u16string& name) const {
    UpdateNameHash();
    return nameHash_->ValueOf(KeyOf(name));
}

// --- TZipDirArray ---------------------------------------------------------------------------------

TZipDirArray::TZipDirArray() = default;

TZipDirArray::~TZipDirArray() { Clear(); }

void TZipDirArray::Fail(int nativeCode) const { throw EZipException::CreateNative(nativeCode, Owner); }

void TZipDirArray::SetCount(int n) {
    if (n < 0) Fail(1);
    if (n > Capacity()) {
        GrowBy = std::min(GrowBy * 2, MaxGrowBy);
        const int grown = Capacity() + GrowBy;
        items_.resize(static_cast<std::size_t>(grown > n ? grown : n));  // new slots start empty
    } else if (n == 0) {
        std::vector<TDirItem>().swap(items_);
    }
    count_ = n;
}

TDirItem& TZipDirArray::GetItem(int i) {
    if (i < 0 || i >= count_) Fail(3);
    return items_[static_cast<std::size_t>(i)];
}

const TDirItem& TZipDirArray::GetItem(int i) const {
    if (i < 0 || i >= count_) Fail(3);
    return items_[static_cast<std::size_t>(i)];
}

TDirItem TZipDirArray::GetItemCopy(int i) const {
    if (i < 0 || i >= count_) Fail(2);
    return items_[static_cast<std::size_t>(i)];
}

void TZipDirArray::SetItem(int i, const TDirItem& item) {
    if (i < 0 || i >= count_) Fail(1);
    const std::u16string key = ZipWideLowerCase(item.Name);
    if (i >= names_.GetCount()) {
        if (i != names_.GetCount()) Fail(58);
        names_.Add(key);
    } else {
        names_.ReplaceName(i, key);
    }
    items_[static_cast<std::size_t>(i)] = item;
}

void TZipDirArray::Delete(int i) {
    if (i < 0 || i >= count_) Fail(4);
    TDirItem& item = items_[static_cast<std::size_t>(i)];
    if (item.OwnsSourceStream) item.SourceStream.reset();
    item.ExtraFields.clear();
    // The index entry of this very item; a lookup by name could hit a twin differing in case.
    const std::u16string key = ZipWideLowerCase(item.Name);
    if (i < names_.GetCount() && names_.Get(i) == key) {
        names_.Delete(i);
    } else {
        const int k = names_.IndexOf(key);
        if (k >= 0) names_.Delete(k);
    }
    for (int j = i; j + 1 < count_; ++j)
        items_[static_cast<std::size_t>(j)] = std::move(items_[static_cast<std::size_t>(j + 1)]);
    SetCount(count_ - 1);
}

bool TZipDirArray::FindItem(const std::u16string& name, int& index) const {
    index = names_.IndexOf(ZipWideLowerCase(name));
    return index >= 0;
}

void TZipDirArray::RenameItem(int i, const std::u16string& newName) {
    TDirItem& item = GetItem(i);
    const std::u16string oldKey = ZipWideLowerCase(item.Name);
    const std::u16string newKey = ZipWideLowerCase(newName);
    // Entry i must be this item's (or the next one to be indexed, as when a directory is read in
    // order); which entry a lookup by name finds does not matter.
    if (i < names_.GetCount() && names_.Get(i) == oldKey) names_.ReplaceName(i, newKey);
    else if (i == names_.GetCount()) names_.Add(newKey);
    else Fail(59);
    item.Name = newName;
}

void TZipDirArray::Clear() {
    for (int i = 0; i < count_; ++i) items_[static_cast<std::size_t>(i)].ExtraFields.clear();
    count_ = 0;
    names_.Clear();
}

void TZipDirArray::Assign(const TZipDirArray& source) {
    if (&source == this) return;
    Clear();
    SetCount(source.GetCount());
    for (int i = 0; i < source.GetCount(); ++i) SetItem(i, source.GetItem(i));
}

}  // namespace zip
