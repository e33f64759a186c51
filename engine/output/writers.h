// The output writers the output stage runs, in its fixed order NMEA, KMZ, KML, GPX, CSV. Each
// writes one file per selected block into `folder` (the input's folder with its trailing
// separator) and returns the records written over all blocks, or -1 when a block failed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/context.h"

namespace zip {
class TDeflatedSource;
class THandleStream;
class TParallelDeflate;
}  // namespace zip

namespace ts {

class TextSpool;

int32_t WriteNmeaFiles(EngineContext& ctx, const std::string& folder, const std::string& inputName);
// kmz: write each block's document as "<name>.$$$" and pack it into "<name>.kmz".
int32_t WriteKml(EngineContext& ctx, const std::string& folder, bool kmz);
int32_t WriteGpx(EngineContext& ctx, const std::string& folder);
int32_t WriteCsv(EngineContext& ctx, const std::string& folder, const std::string& inputName);

// What a KMZ archive of one block holds besides the document: the icons of the styles the
// document used (style order speed1 .. End) and the logo picture.
struct KmzContents {
    std::array<bool, 8> styleUsed{};
    bool logoPresent = false;
    // The document's blocks as its writer deflated them, or null.
    std::shared_ptr<zip::TDeflatedSource> deflated;
    // The file that holds the document, when it is not the ".$$$" name itself.
    std::string documentFile;
};

// The name under which the archive holds a file the document refers to, and so the name the
// document refers to it by: its bare name, a "\" in it made "_".
std::string KmzMemberName(const std::string& fileName);
// The same for an external icon or the logo of o: a name of its own, distinct from every other
// icon's and the logo's; a second file with the same stored name gets a number.
std::string KmzMemberName(const TConversionOptions& o, const std::string& fileName);

// The KMZ document deflated while it is written, on machines with more than one processor: the
// archive's blocks are made as the text reaches the ".$$$" file, stored in a temporary file as
// they come done, and the archive later takes them from there instead of deflating the document
// after it is complete. The bytes are those the archive would make itself.
class KmzDeflate {
public:
    // Reads the file through fd (taken over; -1: none). Null when the machine has one processor
    // or the file cannot be read back.
    static std::unique_ptr<KmzDeflate> Start(int fd, const std::string& folder);
    static std::unique_ptr<KmzDeflate> Start(const std::string& fileName, const std::string& folder);
    // The archive's block: a document of one block is left to the archive.
    static int64_t BlockSize();
    ~KmzDeflate();
    // The file now holds written bytes: stores the blocks done so far.
    void Grown(int64_t written);
    // The file is complete at size bytes: deflates and stores the rest. Null when the archive is
    // to deflate the document itself (a document of one block, or a failure on the way).
    // fileName: the name the archive takes the document from.
    std::shared_ptr<zip::TDeflatedSource> Finish(int64_t size, const std::string& fileName);

    struct Block {
        int64_t read;
        uint32_t crc;
        uint64_t at, size;  // in the store
    };

private:
    KmzDeflate(int fd, const std::string& folder);
    void Take();

    int fd_;
    std::unique_ptr<TextSpool> store_;
    std::vector<Block> blocks_;
    std::unique_ptr<zip::THandleStream> source_;
    std::unique_ptr<zip::TParallelDeflate> deflate_;
    bool failed_ = false;
};
// Packs the ".$$$" document tempName into the ".kmz" of the same name, as its ".kml", and removes
// the document's file; 0 when the archive was made, -1 otherwise (an older ".kmz" then stays, and
// why, when given, receives the reason in one line).
int32_t PackKmz(EngineContext& ctx, const std::string& tempName, const KmzContents& contents,
                std::string* why = nullptr);

}  // namespace ts
