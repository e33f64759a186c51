// Reads a text file line by line through one buffer, without an allocation per line. Lines end at
// CR, LF or CR LF. The last line read can be held: the next ReadLine returns it again, once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace ts {

class LineReader {
public:
    // Longer lines are cut here and the rest of the line is skipped, so that a file without line
    // ends cannot make the buffer grow with it.
    static constexpr size_t kMaxLine = 64 * 1024;

    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader() { Close(); }

    bool Open(const std::string& path);
    // Back to the start of the file; a held line is forgotten.
    bool Rewind();
    void Close();
    bool IsOpen() const { return f_ != nullptr; }
    // A read error ended the file early.
    bool Failed() const { return error_; }
    // Bytes of the file taken by the lines read so far (a held line counts as read).
    uint64_t Consumed() const { return fileRead_ - (end_ - pos_); }
    // Size of the open file, 0 when it cannot be told.
    uint64_t FileSize() const;

    // True when no line is left to read from the file (a held line does not count).
    bool AtEnd();
    // The next line: the held one if any, else the next of the file. The view stays valid until
    // the next call of ReadLine, AtEnd or Rewind that is not for a held line.
    bool ReadLine(std::string_view& line);
    // Holds the line ReadLine returned last.
    void Hold() { held_ = true; }
    bool HasHeld() const { return held_; }
    std::string_view Held() const { return held_ ? View() : std::string_view(); }

private:
    std::string_view View() const { return std::string_view(buf_.data() + lineOff_, lineLen_); }
    // Moves the bytes from keepFrom on to the front and reads more after them; false at the end.
    bool Fill(size_t keepFrom);
    // After an overlong line was cut: drops everything up to the next line end.
    void SkipRestOfLine();
    void Take(size_t len, size_t consumed);

    std::FILE* f_ = nullptr;
    std::vector<char> buf_;
    size_t pos_ = 0, end_ = 0;
    uint64_t fileRead_ = 0;  // bytes read from the file into the buffer so far
    bool eof_ = false;
    bool error_ = false;
    size_t lineOff_ = 0, lineLen_ = 0;
    bool held_ = false;
};

}  // namespace ts
