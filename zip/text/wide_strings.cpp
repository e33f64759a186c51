#include "text/wide_strings.h"

#include <algorithm>

#include "text/code_pages.h"
#include "text/errors.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace zip {

bool ReaderUsesUnicodeProps = false;

namespace {

std::string ReadRest(TStream& stream) {
    const std::int64_t left = stream.Size() - stream.Position();
    std::string bytes(static_cast<std::size_t>(std::max<std::int64_t>(left, 0)), '\0');
    bytes.resize(static_cast<std::size_t>(stream.Read(bytes.data(), static_cast<std::int64_t>(bytes.size()))));
    return bytes;
}

int CompareOrdinal(const std::u16string& a, const std::u16string& b) {
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int DetectWideCharSet(TStream& stream) {
    const std::int64_t left = stream.Size() - stream.Position();
    if (left < 2) return csBytes;
    unsigned char b[3] = {};
    stream.ReadBuffer(b, 2);
    if (b[0] == 0xFF && b[1] == 0xFE) return csUtf16LE;
    if (b[0] == 0xFE && b[1] == 0xFF) return csUtf16BE;
    stream.Seek(-2, TSeekOrigin::soCurrent);
    if (left >= 3) {
        stream.ReadBuffer(b, 3);
        if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return csUtf8;
        stream.Seek(-3, TSeekOrigin::soCurrent);
    }
    return csBytes;
}

// --- TAnsiStringsAdapter ------------------------------------------------------------------------

std::string TAnsiStringsAdapter::Get(int index) const { return WideStringToStringEx(strings_.Get(index), CodePage); }
int TAnsiStringsAdapter::GetCount() const { return strings_.GetCount(); }
TObjectRef TAnsiStringsAdapter::GetObject(int index) const { return strings_.GetObject(index); }
void TAnsiStringsAdapter::Put(int index, const std::string& s) {
    strings_.Put(index, StringToWideStringEx(s, CodePage));
}
void TAnsiStringsAdapter::PutObject(int index, TObjectRef obj) { strings_.PutObject(index, obj); }
void TAnsiStringsAdapter::Insert(int index, const std::string& s) {
    strings_.Insert(index, StringToWideStringEx(s, CodePage));
}
int TAnsiStringsAdapter::Add(const std::string& s) { return strings_.Add(StringToWideStringEx(s, CodePage)); }
void TAnsiStringsAdapter::Delete(int index) { strings_.Delete(index); }
void TAnsiStringsAdapter::Clear() { strings_.Clear(); }

void TAnsiStringsAdapter::SetUpdateState(bool updating) {
    if (updating) strings_.BeginUpdate();
    else strings_.EndUpdate();
}

void TAnsiStringsAdapter::LoadFromStreamEx(TStream& stream, std::uint32_t codePage) {
    strings_.BeginUpdate();
    try {
        strings_.SetText(StringToWideStringEx(ReadRest(stream), codePage));
    } catch (...) {
        strings_.EndUpdate();
        throw;
    }
    strings_.EndUpdate();
}

void TAnsiStringsAdapter::SaveToStreamEx(TStream& stream, std::uint32_t codePage) {
    const std::string bytes = WideStringToStringEx(strings_.GetText(), codePage);
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// --- TUniStrings ----------------------------------------------------------------------------------

TUniStrings::TUniStrings() : ansi_(std::make_unique<TAnsiStringsAdapter>(*this)) {}
TUniStrings::~TUniStrings() = default;

void TUniStrings::ListError(const std::string& fmt, int index) {
    throw EStringListError(ZipFormat(fmt, {static_cast<std::int64_t>(index)}));
}

TObjectRef TUniStrings::GetObject(int) const { return nullptr; }

void TUniStrings::Put(int index, const std::u16string& s) {
    const TObjectRef obj = GetObject(index);
    Delete(index);
    InsertObject(index, s, obj);
}

void TUniStrings::PutObject(int, TObjectRef) {}

void TUniStrings::Exchange(int index1, int index2) {
    const std::u16string s1 = Get(index1);
    const TObjectRef o1 = GetObject(index1);
    Put(index1, Get(index2));
    PutObject(index1, GetObject(index2));
    Put(index2, s1);
    PutObject(index2, o1);
}

int TUniStrings::Add(const std::u16string& s) { return AddObject(s, nullptr); }

int TUniStrings::AddObject(const std::u16string& s, TObjectRef obj) {
    const int index = GetCount();
    InsertObject(index, s, obj);
    return index;
}

int TUniStrings::IndexOf(const std::u16string& s) const {
    for (int i = 0; i < GetCount(); ++i)
        if (CompareStrings(Get(i), s) == 0) return i;
    return -1;
}

int TUniStrings::IndexOfName(const std::u16string& name) const {
    for (int i = 0; i < GetCount(); ++i) {
        const std::u16string s = Get(i);
        const std::size_t sep = s.find(NameValueSeparator);
        if (sep != std::u16string::npos && CompareStrings(s.substr(0, sep), name) == 0) return i;
    }
    return -1;
}

int TUniStrings::CompareStrings(const std::u16string& a, const std::u16string& b) const {
    return CompareOrdinal(ZipWideLowerCase(a), ZipWideLowerCase(b));
}

void TUniStrings::BeginUpdate() {
    // The state changes before the count rises, so that the list still notifies its changing.
    if (updateCount_ == 0) SetUpdateState(true);
    ++updateCount_;
}

void TUniStrings::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

std::u16string TUniStrings::GetText() const {
    std::u16string text;
    for (int i = 0; i < GetCount(); ++i) text += Get(i) + kLineBreak;
    return text;
}

void TUniStrings::SetText(const std::u16string& text) {
    BeginUpdate();
    try {
        Clear();
        std::size_t i = 0;
        while (i < text.size()) {
            std::size_t j = i;
            while (j < text.size() && text[j] != u'\r' && text[j] != u'\n') ++j;
            Add(text.substr(i, j - i));
            if (j < text.size() && text[j] == u'\r') ++j;
            if (j < text.size() && text[j] == u'\n') ++j;
            i = j;
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TUniStrings::Assign(const TUniStrings& source) {
    if (&source == this) return;
    BeginUpdate();
    try {
        Clear();
        AddStrings(source);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TUniStrings::AddStrings(const TUniStrings& source) {
    BeginUpdate();
    try {
        for (int i = 0; i < source.GetCount(); ++i) AddObject(source.Get(i), source.GetObject(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::u16string TUniStrings::NameOf(int index) const {
    const std::u16string s = Get(index);
    const std::size_t sep = s.find(NameValueSeparator);
    return sep == std::u16string::npos ? std::u16string() : s.substr(0, sep);
}

void TUniStrings::LoadFromFile(const std::u16string& fileName) {
    TUniFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TUniStrings::SaveToFile(const std::u16string& fileName) {
    TUniFileStream stream(fileName, fmCreate);
    SaveToStream(stream);
    stream.Close();  // a close that fails may have lost what was written
}

void TUniStrings::LoadFromStreamBOM(TStream& stream, bool withBOM) {
    const int charSet = withBOM ? DetectWideCharSet(stream) : csUtf16LE;
    BeginUpdate();
    try {
        const std::string bytes = ReadRest(stream);
        std::u16string text;
        if (charSet == csUtf16LE || charSet == csUtf16BE) {
            text.resize(bytes.size() / 2);
            for (std::size_t i = 0; i < text.size(); ++i)
                text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                                (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
            if (charSet == csUtf16BE) SwapWideByteOrder(text);
        } else if (charSet == csUtf8) {
            text = UTF8DecodeWide(bytes);
        } else {
            text = StringToWideStringEx(bytes, CP_ACP);
        }
        SetText(text);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TUniStrings::SaveToStreamBOM(TStream& stream, bool withBOM) {
    std::string bytes;
    if (withBOM) bytes = "\xFF\xFE";
    for (const char16_t c : GetText()) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void TUniStrings::DefineProperties(TFiler& filer) {
    filer.DefineProperty(
        "WideStrings", [this](TReader& r) { ReadData(r); }, nullptr, false);
    filer.DefineProperty(
        "WideStringsW",
        [this](TReader& r) {
            ReadItems(r, !r.RootDesigning && ReaderUsesUnicodeProps && GetCount() == 0, UTF8DecodeWide);
        },
        nullptr, false);
    filer.DefineProperty(
        "WideStringsUTF7",
        [this](TReader& r) { ReadItems(r, !r.RootDesigning && ReaderUsesUnicodeProps, UTF7ToWideString); },
        [this](TWriter& w) {
            w.WriteListBegin();
            for (int i = 0; i < GetCount(); ++i) w.WriteString(WideStringToUTF7(Get(i)));
            w.WriteListEnd();
        },
        GetCount() > 0);
}

void TUniStrings::ReadData(TReader& reader) {
    const TValueType type = reader.NextValue();
    if (type != TValueType::vaList) {
        SetText(reader.ReadWideString());
        return;
    }
    BeginUpdate();
    try {
        Clear();
        reader.ReadListBegin();
        while (!reader.EndOfList()) Add(reader.ReadWideString());
        reader.ReadListEnd();
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TUniStrings::ReadItems(TReader& reader, bool take, std::u16string (*decode)(const std::string&)) {
    reader.ReadListBegin();
    if (!take) {
        while (!reader.EndOfList()) reader.ReadString();
        reader.ReadListEnd();
        return;
    }
    BeginUpdate();
    try {
        Clear();
        while (!reader.EndOfList()) Add(decode(reader.ReadString()));
        reader.ReadListEnd();
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

// --- TUniStringList -------------------------------------------------------------------------------

TUniStringList::~TUniStringList() {
    OnChange = nullptr;
    OnChanging = nullptr;
}

void TUniStringList::CheckIndex(int index) const {
    if (index < 0 || index >= GetCount()) ListError("List index out of bounds (%d)", index);
}

std::u16string TUniStringList::Get(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)].text;
}

TObjectRef TUniStringList::GetObject(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)].object;
}

void TUniStringList::Put(int index, const std::u16string& s) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    CheckIndex(index);
    Changing();
    items_[static_cast<std::size_t>(index)].text = s;
    Changed();
}

void TUniStringList::PutObject(int index, TObjectRef obj) {
    CheckIndex(index);
    Changing();
    items_[static_cast<std::size_t>(index)].object = obj;
    Changed();
}

void TUniStringList::InsertObject(int index, const std::u16string& s, TObjectRef obj) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    if (index < 0 || index > GetCount()) ListError("List index out of bounds (%d)", index);
    InsertItem(index, s, obj);
}

void TUniStringList::InsertItem(int index, const std::u16string& s, TObjectRef obj) {
    Changing();
    if (GetCount() == capacity_) Grow();
    items_.insert(items_.begin() + index, Item{s, obj});
    Changed();
}

void TUniStringList::Grow() {
    const int delta = capacity_ > 64 ? capacity_ / 4 : (capacity_ > 8 ? 16 : 4);
    SetCapacity(capacity_ + delta);
}

void TUniStringList::SetCapacity(int capacity) {
    if (capacity < GetCount()) ListError("List capacity out of bounds (%d)", capacity);
    capacity_ = capacity;
    items_.reserve(static_cast<std::size_t>(capacity));
}

void TUniStringList::Delete(int index) {
    CheckIndex(index);
    Changing();
    items_.erase(items_.begin() + index);
    Changed();
}

void TUniStringList::Clear() {
    if (items_.empty() && capacity_ == 0) return;
    Changing();
    items_.clear();
    items_.shrink_to_fit();
    capacity_ = 0;
    Changed();
}

void TUniStringList::Exchange(int index1, int index2) {
    CheckIndex(index1);
    CheckIndex(index2);
    Changing();
    ExchangeItems(index1, index2);
    Changed();
}

void TUniStringList::ExchangeItems(int index1, int index2) {
    std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
}

int TUniStringList::Add(const std::u16string& s) { return AddObject(s, nullptr); }

int TUniStringList::AddObject(const std::u16string& s, TObjectRef obj) {
    int index = GetCount();
    if (sorted_ && Find(s, index)) {
        if (Duplicates == dupIgnore) return index;
        if (Duplicates == dupError) throw EStringListError("String list does not allow duplicates");
    }
    InsertItem(index, s, obj);
    return index;
}

bool TUniStringList::Find(const std::u16string& s, int& index) const {
    bool found = false;
    int l = 0, h = GetCount() - 1;
    while (l <= h) {
        const int i = (l + h) / 2;
        const int c = CompareStrings(items_[static_cast<std::size_t>(i)].text, s);
        if (c < 0) {
            l = i + 1;
        } else {
            h = i - 1;
            if (c == 0) {
                found = true;
                if (Duplicates != dupAccept) l = i;
            }
        }
    }
    index = l;
    return found;
}

int TUniStringList::IndexOf(const std::u16string& s) const {
    if (!sorted_) return TUniStrings::IndexOf(s);
    int index = 0;
    return Find(s, index) ? index : -1;
}

int TUniStringList::IndexOfName(const std::u16string& name) const {
    if (!sorted_) return TUniStrings::IndexOfName(name);
    const std::u16string key = name + NameValueSeparator;
    int index = 0;
    Find(key, index);
    if (index < GetCount()) {
        const std::u16string& s = items_[static_cast<std::size_t>(index)].text;
        if (s.size() >= key.size() && CompareStrings(s.substr(0, key.size()), key) == 0) return index;
    }
    return -1;
}

int TUniStringList::CompareStrings(const std::u16string& a, const std::u16string& b) const {
    return caseSensitive_ ? CompareOrdinal(a, b) : TUniStrings::CompareStrings(a, b);
}

void TUniStringList::Changed() {
    if (UpdateCount() == 0 && OnChange) OnChange(*this);
}

void TUniStringList::Changing() {
    if (UpdateCount() == 0 && OnChanging) OnChanging(*this);
}

void TUniStringList::SetUpdateState(bool updating) {
    if (updating) Changing();
    else Changed();
}

void TUniStringList::Sort() { CustomSort(DefaultWideListCompare); }

void TUniStringList::CustomSort(const TCompare& compare) {
    if (sorted_ || GetCount() < 2) return;
    Changing();
    QuickSort(0, GetCount() - 1, compare);
    Changed();
}

void TUniStringList::QuickSort(int l, int r, const TCompare& compare) {
    // Middle pivot; the scans are bounded so that an inconsistent compare cannot run off the list.
    int i = 0;
    do {
        i = l;
        int j = r;
        int p = (l + r) / 2;
        do {
            while (i < r && compare(*this, i, p) < 0) ++i;
            while (j > l && compare(*this, j, p) > 0) --j;
            if (i <= j) {
                if (i != j) ExchangeItems(i, j);
                if (p == i) p = j;
                else if (p == j) p = i;
                ++i;
                --j;
            }
        } while (i <= j);
        if (l < j) QuickSort(l, j, compare);
        l = i;
    } while (i < r);
}

void TUniStringList::SetSorted(bool sorted) {
    if (sorted_ == sorted) return;
    if (sorted) Sort();
    sorted_ = sorted;
}

void TUniStringList::SetCaseSensitive(bool caseSensitive) {
    if (caseSensitive_ == caseSensitive) return;
    caseSensitive_ = caseSensitive;
    if (sorted_) {
        sorted_ = false;
        Sort();
        sorted_ = true;
    }
}

int DefaultWideListCompare(TUniStringList& list, int index1, int index2) {
    return list.CompareStrings(list.Get(index1), list.Get(index2));
}

}  // namespace zip
