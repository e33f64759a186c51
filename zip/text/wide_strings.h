// Lists of wide strings: the abstract TUniStrings (whole text, byte-order signatures, a byte-string
// view in a code page) and TUniStringList (sorted or not, with objects and a duplicates rule).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "text/property_streams.h"
#include "text/streams.h"

namespace zip {

// Objects attached to list entries are not owned by the list.
using TObjectRef = void*;

enum TDuplicates { dupIgnore = 0, dupAccept = 1, dupError = 2 };

// Character sets recognised by their signature.
enum : int { csBytes = 0, csUtf16LE = 1, csUtf16BE = 2, csUtf8 = 3 };
// Reads the signature at the stream's position and leaves the position behind it (or where it was
// when there is none).
int DetectWideCharSet(TStream& stream);

class EStringListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// While clear (as it is at start-up), stored UTF-7 and UTF-8 list properties are read and dropped;
// see TUniStrings::DefineProperties.
extern bool ReaderUsesUnicodeProps;

// Lines are joined with this break when a list's whole text is built.
inline constexpr char16_t kLineBreak[] = u"\n";

class TUniStrings;

// The entries of a wide list seen as byte strings in a code page (0: the system ANSI page).
class TAnsiStringsAdapter {
public:
    explicit TAnsiStringsAdapter(TUniStrings& strings) : strings_(strings) {}
    std::string Get(int index) const;
    int GetCount() const;
    TObjectRef GetObject(int index) const;
    void Put(int index, const std::string& s);
    void PutObject(int index, TObjectRef obj);
    void Insert(int index, const std::string& s);
    int Add(const std::string& s);
    void Delete(int index);
    void Clear();
    void SetUpdateState(bool updating);
    // The rest of the stream, in codePage, becomes the whole text; saving writes no signature.
    void LoadFromStreamEx(TStream& stream, std::uint32_t codePage);
    void SaveToStreamEx(TStream& stream, std::uint32_t codePage);

    std::uint32_t CodePage = 0;

private:
    TUniStrings& strings_;
};

class TUniStrings : public TPersistent {
public:
    TUniStrings();
    virtual ~TUniStrings();
    TUniStrings(const TUniStrings&) = delete;
    TUniStrings& operator=(const TUniStrings&) = delete;

    virtual std::u16string Get(int index) const = 0;
    virtual int GetCount() const = 0;
    virtual TObjectRef GetObject(int index) const;
    virtual void Put(int index, const std::u16string& s);
    virtual void PutObject(int index, TObjectRef obj);
    virtual void InsertObject(int index, const std::u16string& s, TObjectRef obj) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    virtual void Exchange(int index1, int index2);
    virtual int Add(const std::u16string& s);
    virtual int AddObject(const std::u16string& s, TObjectRef obj);
    virtual int IndexOf(const std::u16string& s) const;
    virtual int IndexOfName(const std::u16string& name) const;
    // Case-insensitive in the base list.
    virtual int CompareStrings(const std::u16string& a, const std::u16string& b) const;

    void Insert(int index, const std::u16string& s) { InsertObject(index, s, nullptr); }
    int Count() const { return GetCount(); }
    std::u16string operator[](int index) const { return Get(index); }

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    // Every line followed by a line break; setting splits at CR, LF and CR LF.
    std::u16string GetText() const;
    void SetText(const std::u16string& text);
    void Assign(const TUniStrings& source);
    void AddStrings(const TUniStrings& source);
    std::u16string NameOf(int index) const;  // the text before the first separator

    virtual void LoadFromFile(const std::u16string& fileName);
    virtual void LoadFromStream(TStream& stream) { LoadFromStreamBOM(stream, true); }
    virtual void SaveToFile(const std::u16string& fileName);
    virtual void SaveToStream(TStream& stream) { SaveToStreamBOM(stream, true); }
    virtual void LoadFromStreamBOM(TStream& stream, bool withBOM);
    virtual void SaveToStreamBOM(TStream& stream, bool withBOM);

    TAnsiStringsAdapter& AnsiStrings() { return *ansi_; }

    // Stored lists: "WideStrings" (read: one string that becomes the whole text, or a list of
    // byte or wide items), "WideStringsW" (read: UTF-8 items) and "WideStringsUTF7" (read, and
    // written when the list has items: UTF-7 items). The UTF-7 and UTF-8 items are taken only
    // outside design and with ReaderUsesUnicodeProps set, the UTF-8 ones only into a list that
    // is still empty; otherwise they are read and dropped.
    void DefineProperties(TFiler& filer) override;

    char16_t NameValueSeparator = u'=';

protected:
    virtual void SetUpdateState(bool /*updating*/) {}
    [[noreturn]] static void ListError(const std::string& fmt, int index);

private:
    friend class TAnsiStringsAdapter;
    void ReadData(TReader& reader);
    void ReadItems(TReader& reader, bool take, std::u16string (*decode)(const std::string&));
    int updateCount_ = 0;
    std::unique_ptr<TAnsiStringsAdapter> ansi_;
};

class TUniStringList : public TUniStrings {
public:
    using TCompare = std::function<int(TUniStringList& list, int index1, int index2)>;

    ~TUniStringList() override;

    std::u16string Get(int index) const override;
    int GetCount() const override { return static_cast<int>(items_.size()); }
    TObjectRef GetObject(int index) const override;
    void Put(int index, const std::u16string& s) override;
    void PutObject(int index, TObjectRef obj) override;
    void InsertObject(int index, const std::u16string& s, TObjectRef obj) override;
    void Delete(int index) override;
    void Clear() override;
    void Exchange(int index1, int index2) override;
    int Add(const std::u16string& s) override;
    int AddObject(const std::u16string& s, TObjectRef obj) override;
    int IndexOf(const std::u16string& s) const override;
    int IndexOfName(const std::u16string& name) const override;
    int CompareStrings(const std::u16string& a, const std::u16string& b) const override;

    // Bisection; Index is the match (the first of equal entries with dupAccept) or the insertion
    // point.
    virtual bool Find(const std::u16string& s, int& index) const;
    virtual void Sort();
    virtual void CustomSort(const TCompare& compare);

    int Capacity() const { return capacity_; }
    void SetCapacity(int capacity);
    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);
    bool CaseSensitive() const { return caseSensitive_; }
    virtual void SetCaseSensitive(bool caseSensitive);

    TDuplicates Duplicates = dupIgnore;
    std::function<void(TUniStringList&)> OnChange;
    std::function<void(TUniStringList&)> OnChanging;

protected:
    virtual void Changed();
    virtual void Changing();
    virtual void InsertItem(int index, const std::u16string& s, TObjectRef obj);
    virtual void ExchangeItems(int index1, int index2);
    void SetUpdateState(bool updating) override;
    void Grow();
    void CheckIndex(int index) const;

private:
    void QuickSort(int l, int r, const TCompare& compare);

    struct Item {
        std::u16string text;
        TObjectRef object = nullptr;
    };
    std::vector<Item> items_;
    int capacity_ = 0;
    bool sorted_ = false;
    bool caseSensitive_ = false;
};

int DefaultWideListCompare(TUniStringList& list, int index1, int index2);

}  // namespace zip
