// An archiver on a failing disk: one read of the many an open makes fails, as a read with EIO does,
// and the sweep that fails each of them in turn.
#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "test_util.h"

namespace ziptest {

class FlakyReads : public zip::TZipArchiver {
public:
    // Read number failAt (from 1, over every file the archiver opens) fails; with half it still
    // gives half of what was asked, as a read cut short by the error does.
    int failAt = 0;
    bool half = false;
    int reads = 0;
    bool Failed() const { return failAt > 0 && reads >= failAt; }

protected:
    std::unique_ptr<zip::TUniFileStream> NewVolumeStream(const std::u16string& name, std::uint16_t mode) override {
        return std::make_unique<Stream>(name, mode, *this);
    }

private:
    class Stream : public zip::TUniFileStream {
    public:
        Stream(const std::u16string& name, std::uint16_t mode, FlakyReads& owner)
            : TUniFileStream(name, mode), owner_(owner) {}
        std::int64_t Read(void* buffer, std::int64_t count) override {
            if (++owner_.reads != owner_.failAt) return TUniFileStream::Read(buffer, count);
            const std::int64_t got = owner_.half && count > 1 ? TUniFileStream::Read(buffer, count / 2) : 0;
            errno = EIO;
            return got;
        }

    private:
        FlakyReads& owner_;
    };
};

// Opens an archive read-write once for each read the open makes, failing that read (with nothing
// read, then half). Each such open must raise the read failure, leave the archiver closed with the
// spanning mode the caller set, refuse an add, and leave every file as it was (snapshot); the first
// open that makes no failing read must list files entries. Returns the reads of that open.
inline int SweepOpenReads(const std::function<void(zip::TZipArchiver&)>& setup,
                          const std::function<std::map<std::string, std::string>()>& snapshot, int files) {
    const auto before = snapshot();
    TempDir src;
    src.write("new.kml", "<kml/>\n");
    for (int n = 1; n < 1000; ++n) {
        for (const bool half : {false, true}) {
            SCOPED_TRACE("read " + std::to_string(n) + (half ? " cut short" : " failed"));
            FlakyReads a;
            setup(a);
            const zip::TZipSpanningMode mode = a.SpanningMode();
            a.failAt = n;
            a.half = half;
            bool raised = false;
            try {
                a.OpenArchive(zip::fmOpenReadWrite | zip::fmShareDenyWrite);
            } catch (const zip::EStreamError& e) {
                raised = true;
                EXPECT_STREQ(e.what(), "Stream read error");
            }
            if (!a.Failed()) {
                EXPECT_FALSE(raised);
                EXPECT_EQ(a.FileCount(), files);
                return n - 1;
            }
            EXPECT_TRUE(raised);
            EXPECT_FALSE(a.Active());
            EXPECT_EQ(a.SpanningMode(), mode);
            a.BaseDir = src.wide();
            EXPECT_EQ(NativeOf([&] { a.AddFiles(u"new.kml", 0x28BF, u""); }), 13);
            a.CloseArchive();
            EXPECT_EQ(snapshot(), before);
            if (::testing::Test::HasFailure()) return -1;
        }
    }
    ADD_FAILURE() << "the open never ran through";
    return -1;
}

}  // namespace ziptest
