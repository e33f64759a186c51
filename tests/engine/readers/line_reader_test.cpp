#include "reader_test_util.h"

namespace ts {
namespace {

std::vector<std::string> ReadAll(const std::string& text) {
    test::TempFile f(text, ".txt");
    LineReader r;
    EXPECT_TRUE(r.Open(f.path()));
    std::vector<std::string> lines;
    std::string_view l;
    while (!r.AtEnd() && r.ReadLine(l)) lines.emplace_back(l);
    return lines;
}

TEST(LineReader, CrLfSplitAcrossTheBufferIsOneLineEnd) {
    // Put the CR of a CR LF on the last byte of the first buffer load, and on the byte after.
    const size_t buffer = 4 * LineReader::kMaxLine;
    for (size_t crAt : {buffer - 1, buffer}) {
        std::string text;
        int n = 0;
        while (text.size() + 100 < crAt) text += std::string(97, 'a') + "\r\n", ++n;
        text += std::string(crAt - text.size(), 'b') + "\r\nlast";
        const auto lines = ReadAll(text);
        ASSERT_EQ(lines.size(), static_cast<size_t>(n + 2)) << crAt;
        EXPECT_EQ(lines[n].size(), crAt - 99 * static_cast<size_t>(n));
        EXPECT_EQ(lines.back(), "last");
    }
}

TEST(LineReader, ByteOrderMarkOnlyAtTheStartIsSkipped) {
    const std::string bom(kUtf8Bom);
    EXPECT_EQ(ReadAll(bom + "a\r\n" + bom + "b"), (std::vector<std::string>{"a", bom + "b"}));
    EXPECT_EQ(ReadAll(bom), std::vector<std::string>{});
    EXPECT_EQ(ReadAll("\xEF\xBB"), std::vector<std::string>{"\xEF\xBB"});  // not a whole mark: kept
    test::TempFile f(bom + "x\n", ".txt");
    LineReader r;
    ASSERT_TRUE(r.Open(f.path()));
    std::string_view l;
    ASSERT_TRUE(r.ReadLine(l) && r.Rewind() && r.ReadLine(l));
    EXPECT_EQ(l, "x");
}

TEST(LineReader, HeldLineSurvivesARefill) {
    // Four lines fill the first buffer load exactly; the fourth is held when the file is asked
    // for its end, which makes the reader load more.
    const size_t len = LineReader::kMaxLine - 1;
    std::string text;
    for (char c : {'a', 'b', 'c', 'd'}) text += std::string(len, c) + "\n";
    test::TempFile f(text + "z", ".txt");
    LineReader r;
    ASSERT_TRUE(r.Open(f.path()));
    std::string_view l;
    auto next = [&] { return r.ReadLine(l) ? std::string(l) : std::string("<none>"); };
    EXPECT_EQ(r.FileSize(), text.size() + 1);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(r.ReadLine(l));
    EXPECT_EQ(r.Consumed(), text.size());
    r.Hold();
    EXPECT_FALSE(r.AtEnd());
    EXPECT_EQ(r.Consumed(), text.size());  // the refill took in more, but no line of it
    EXPECT_EQ(next(), std::string(len, 'd'));
    EXPECT_EQ(next(), "z");
    r.Hold();
    EXPECT_TRUE(r.AtEnd());  // nothing after the held line
    EXPECT_EQ(next(), "z");
    EXPECT_EQ(next(), "<none>");
    EXPECT_EQ(r.Consumed(), text.size() + 1);
    // Rewinding forgets the held line.
    r.Hold();
    ASSERT_TRUE(r.Rewind());
    EXPECT_FALSE(r.HasHeld());
    EXPECT_EQ(next(), std::string(len, 'a'));
    EXPECT_EQ(r.Consumed(), len + 1);
}

// The chunked feed gives exactly the lines of LineReader, in order, wherever the chunks cut: line
// ends split between chunks, empty lines, lines longer than kept, a last line without an end.
TEST(ChunkedLineFeed, SameLinesAsTheLineReaderWhereverChunksCut) {
    const std::string longLine(LineReader::kMaxLine + 5, 'x');
    const std::string texts[] = {"",
                                 "\n",
                                 "\r",
                                 "a",
                                 "a\r\nb\rc\nd",
                                 "\r\n\r\n\n\r\r",
                                 "ab\r",
                                 "x\n\r\ny\r\r\nz\n",
                                 longLine + "\r\n" + longLine + "\rtail\n" + longLine,
                                 std::string(LineReader::kMaxLine, 'y') + "\r\nz"};
    for (const std::string& text : texts) {
        const auto expected = ReadAll(text);
        test::TempFile f(text, ".txt");
        LineReader file;
        ASSERT_TRUE(file.Open(f.path()));
        for (size_t chunk : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(4096), LineReader::kMaxLine + 1}) {
            if (chunk < 4 && text.size() > 1000) continue;  // slow, and cut like the short texts
            for (unsigned workers : {1u, 3u}) {
                std::vector<std::vector<std::string>> perSlot(ChunkedLineFeed::SlotsFor(workers));
                ChunkedLineFeed feed;  // stops its workers before perSlot goes
                ASSERT_TRUE(feed.Start(file, workers, chunk, [&](ChunkedLineFeed::Chunk& c, unsigned) {
                    perSlot[c.slot].assign(c.lines.begin(), c.lines.end());
                }));
                std::vector<std::string> got;
                while (const ChunkedLineFeed::Chunk* c = feed.Next())
                    got.insert(got.end(), perSlot[c->slot].begin(), perSlot[c->slot].end());
                EXPECT_FALSE(feed.Failed());
                EXPECT_EQ(got, expected) << chunk << " " << workers << " " << text.substr(0, 20);
            }
        }
    }
}

}  // namespace
}  // namespace ts
