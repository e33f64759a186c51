#include "archive/dir_items.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "text/errors.h"
#include "text/wide_text.h"

using namespace zip;
using ziptest::NativeOf;

namespace {

TDirItem Item(const std::u16string& name) {
    TDirItem it;
    it.Header.Signature = TCentralHeader::kSignature;
    it.Name = name;
    return it;
}

void Append(TZipDirArray& a, const std::u16string& name) {
    a.SetCount(a.GetCount() + 1);
    a.SetItem(a.GetCount() - 1, Item(name));
}

// The index must name item i at entry i.
void ExpectInStep(const TZipDirArray& a) {
    ASSERT_EQ(a.Names().GetCount(), a.GetCount());
    for (int i = 0; i < a.GetCount(); ++i) EXPECT_EQ(a.Names().Get(i), ZipWideLowerCase(a.GetItem(i).Name)) << i;
}

struct CountedStream : TMemoryStream {
    explicit CountedStream(int& alive) : alive_(alive) { ++alive_; }
    ~CountedStream() override { --alive_; }
    int& alive_;
};

}  // namespace

TEST(HashedList, StaleIndexesAndNames) {
    TZipHashedStringList l;
    l.Add(u"a=1");
    l.Add(u"b=2");
    EXPECT_EQ(l.IndexOfName(u"B"), 1);
    l.Add(u"c=3");  // kept current without a rebuild
    EXPECT_EQ(l.IndexOfName(u"c"), 2);
    l.Delete(0);
    EXPECT_EQ(l.IndexOfName(u"c"), 1);
    EXPECT_EQ(l.IndexOf(u"c=3"), 1);
    l.Insert(0, u"z=0");
    EXPECT_EQ(l.IndexOf(u"c=3"), 2);
    l.Exchange(0, 2);
    EXPECT_EQ(l.IndexOf(u"c=3"), 0);
    EXPECT_EQ(l.IndexOfName(u"z"), 2);
    l.ReplaceName(0, u"d=4");
    EXPECT_EQ(l.IndexOf(u"c=3"), -1);
    EXPECT_EQ(l.IndexOfName(u"d"), 0);
    l.Clear();
    EXPECT_EQ(l.IndexOf(u"d=4"), -1);
    l.Add(u"x");
    EXPECT_EQ(l.IndexOf(u"X"), 0);
    l.SetCaseSensitive(true);
    EXPECT_EQ(l.IndexOf(u"X"), -1);
    EXPECT_EQ(l.IndexOf(u"x"), 0);
}

// Lookups ignore case; a rename or an update touches only its own item's entry.
TEST(DirArray, NamesDifferingOnlyInCase) {
    int index = -1;
    TZipDirArray r;
    Append(r, u"X.txt");
    Append(r, u"x.txt");
    r.RenameItem(0, u"y.txt");  // entry 0 is this item's, though a lookup finds entry 1
    EXPECT_EQ(r.GetItem(0).Name, u"y.txt");
    ExpectInStep(r);
    EXPECT_TRUE(r.FindItem(u"X.TXT", index));
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(r.FindItem(u"Y.txt", index));
    EXPECT_EQ(index, 0);
    // A value-index update replaces only the renamed entry's link.
    TZipDirArray s;
    Append(s, u"Q");
    Append(s, u"q");
    EXPECT_TRUE(s.FindItem(u"q", index));
    s.SetItem(0, Item(u"z"));
    EXPECT_TRUE(s.FindItem(u"q", index));
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(s.FindItem(u"Z", index));
    EXPECT_EQ(index, 0);
}

// A reused array: Clear keeps the slots, their names and headers, but drops extras and the
// index; the reader renames them in order.
TEST(DirArray, ClearKeepsTheSlotsForRenamesInOrder) {
    TZipDirArray a;
    Append(a, u"x");
    Append(a, u"y");
    a.GetItem(1).ExtraFields.push_back({0x554E, {9}});
    a.GetItem(1).Header.Crc32 = 42;
    const int cap = a.Capacity();
    a.Clear();
    a.SetCount(2);
    EXPECT_EQ(a.Capacity(), cap);
    EXPECT_EQ(a.GetItem(1).Name, u"y");
    EXPECT_EQ(a.GetItem(1).Header.Crc32, 42u);
    EXPECT_TRUE(a.GetItem(1).ExtraFields.empty());
    EXPECT_EQ(a.Names().GetCount(), 0);
    a.RenameItem(0, u"y");
    a.RenameItem(1, u"x");
    ExpectInStep(a);
    EXPECT_EQ(NativeOf([&] { a.RenameItem(5, u"q"); }), 3);
    a.SetCount(4);
    EXPECT_EQ(NativeOf([&] { a.RenameItem(3, u"q"); }), 59);  // entry 2 is not indexed yet
}

TEST(DirArray, ErrorCodesLeaveTheArrayUnchanged) {
    TZipDirArray a;
    Append(a, u"one");
    EXPECT_EQ(NativeOf([&] { a.GetItem(1); }), 3);
    EXPECT_EQ(NativeOf([&] { a.GetItemCopy(-1); }), 2);
    EXPECT_EQ(NativeOf([&] { a.SetItem(1, Item(u"x")); }), 1);
    EXPECT_EQ(NativeOf([&] { a.Delete(1); }), 4);
    a.SetCount(3);
    TDirItem withExtra = Item(u"two");
    a.GetItem(2).ExtraFields.push_back({0x5455, {1, 2, 3}});
    EXPECT_EQ(NativeOf([&] { a.SetItem(2, withExtra); }), 58);  // entry 1 is missing
    EXPECT_EQ(a.GetItem(2).ExtraFields.size(), 1u);
}

TEST(DirArray, CopiesAreDeepAndStreamsOwnedOrNot) {
    TZipDirArray a;
    Append(a, u"k");
    a.GetItem(0).ExtraFields.push_back({0x554E, {1, 2}});
    TZipDirArray backup;
    backup.Assign(a);
    a.GetItem(0).ExtraFields[0].Data[0] = 99;
    EXPECT_EQ(backup.GetItem(0).ExtraFields[0].Data[0], 1);
    TDirItem copy = a.GetItemCopy(0);
    copy.ExtraFields.clear();
    EXPECT_EQ(a.GetItem(0).ExtraFields.size(), 1u);

    int alive = 0;
    auto callers = std::make_shared<CountedStream>(alive);
    a.GetItem(0).SourceStream = callers;
    a.GetItem(0).OwnsSourceStream = false;
    Append(a, u"owned");
    a.GetItem(1).SourceStream = std::make_shared<CountedStream>(alive);
    a.GetItem(1).OwnsSourceStream = true;
    EXPECT_EQ(alive, 2);
    a.Delete(1);
    EXPECT_EQ(alive, 1);
    a.Delete(0);
    EXPECT_EQ(alive, 1);  // the caller's stream lives on
    callers->WriteBuffer("x", 1);
    EXPECT_EQ(callers->Size(), 1);
}

TEST(DirArray, GrowthWithTwinsDifferingInCase) {
    TZipDirArray a;
    Append(a, u"Twin.kml");
    int index = -1;
    EXPECT_TRUE(a.FindItem(u"TWIN.KML", index));  // the value index now exists
    Append(a, u"TWIN.KML");
    for (int i = 0; i < 5000; ++i) Append(a, u"Icon" + WideFromAscii(std::to_string(i).c_str()) + u".PNG");
    EXPECT_EQ(a.Names().ValueHashSize(), 0u);  // dropped past five entries a bucket
    ASSERT_TRUE(a.FindItem(u"icon4999.png", index));
    EXPECT_EQ(index, 5001);
    EXPECT_EQ(a.Names().ValueHashSize(), 5002u);
    EXPECT_TRUE(a.FindItem(u"twin.KML", index));
    EXPECT_EQ(index, 1);  // the newer twin shadows the older
    a.RenameItem(1, u"Other.kml");
    EXPECT_TRUE(a.FindItem(u"twin.kml", index));
    EXPECT_EQ(index, 0);
    a.Delete(0);
    EXPECT_FALSE(a.FindItem(u"twin.kml", index));
    EXPECT_TRUE(a.FindItem(u"ICON0.png", index));
    EXPECT_EQ(index, 1);
    ExpectInStep(a);
}
