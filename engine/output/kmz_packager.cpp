// KMZ packaging: the block's document, complete under a scratch name of its own ("<name>.xxxxxx.$$$"
// for "<name>.$$$"), goes into "<name>.kmz" as "<name>.kml" together with the external icons and
// the logo it refers to by bare file name. The archive is built under a scratch name of its own
// and replaces an older ".kmz" only when it is complete, by the rules of the other outputs; a
// ".kml" of the same name is never touched. Two runs at once never share a scratch file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <stdexcept>
#include <system_error>

#include "archive/archiver.h"
#include "archive/parallel_deflate.h"
#include "core/text_format.h"
#include "output/output_file.h"
#include "output/text_spool.h"
#include "output/writers.h"
#include "text/streams.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace ts {

namespace {

// A source the archive can read to its end without waiting: a regular file, or a link to one. A
// pipe would hold the run, a device give nothing or no end.
enum class SourceKind { Regular, Missing, Other };

SourceKind KindOf(const std::string& name) {
    struct stat st {};
    if (name.empty() || ::stat(name.c_str(), &st) != 0) return SourceKind::Missing;
    return S_ISREG(st.st_mode) ? SourceKind::Regular : SourceKind::Other;
}

bool LinkExists(const std::string& name) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0;
}

// Earlier runs kept a user's ".kml" under the backup name while they built the archive; one that
// was left there is the user's file. It goes back when nothing took its name since, and stays
// where it is otherwise; it is never deleted.
void RestoreParkedKml(EngineContext& ctx, const std::string& docName, const std::string& backupName) {
    struct stat st {};
    if (::lstat(backupName.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return;
    ctx.host.showReportAtEnd = true;
    if (!LinkExists(docName)) {
        if (RenameNoReplace(backupName, docName)) {
            ctx.Report("  Restored an earlier run's file: " + docName);
            return;
        }
        ctx.host.MessageDlg("Can not Rename : " + backupName, MsgKind::Error, mbOK, mbOK);
    }
    ctx.Report("  An earlier run's file is kept as: " + backupName);
}

std::u16string Wide(const std::string& s) { return zip::UTF8DecodeWide(s); }

constexpr int kKmzLevel = 9;

// The archive as the program configures it: deflate level 9, OEM names with the Unicode name
// extra, one file, no Zip64, no encryption.
void Configure(zip::TZipArchiver& a) {
    a.ExtractCorruptedFiles = false;
    a.SetCompressionLevel(zip::clMax);
    a.SetCompressionMode(kKmzLevel);
    a.SetSpanningMode(zip::smNone);
    a.SpanningOptions.AdvancedNaming = true;
    a.SpanningOptions.VolumeSize = zip::vsAutoDetect;
    a.Options.FlushBuffers = true;
    a.Options.OEMFileNames = true;
    a.SetInMemory(false);
    a.Zip64Mode = zip::zmDisabled;
    a.UnicodeFilenames = true;
    a.EncryptionMethod = zip::caNoEncryption;
}

class KmzArchive {
public:
    explicit KmzArchive(EngineContext& ctx) : ctx_(ctx) {
        Configure(a_);
        // A file that cannot be packed ends the commit; the add below then reports it.
        a_.OnProcessFileFailure = [this](zip::TComponent*, const std::u16string&, zip::TZipProcessOperation, int, int,
                                         const std::u16string& message, zip::TZipAction& action) {
            failure_ = zip::UTF8EncodeWide(message);
            action = zip::fxaAbort;
        };
        // The add takes its name as a mask, and "*" and "?" are legal in names here: only the file
        // meant is confirmed, and no subfolder is searched.
        a_.Options.Recurse = false;
        a_.OnConfirmProcessFile = [this](zip::TComponent*, const std::u16string& name, zip::TZipProcessOperation,
                                         bool& confirm) { confirm = zip::WideExtractFileName(name) == wanted_; };
        // The document is packed from its scratch name under its own.
        a_.OnStoreFile = [this](zip::TComponent*, std::u16string& fileName, std::uint32_t&, std::string&,
                                const std::u16string&) {
            if (!storedAs_.empty()) fileName = storedAs_;
        };
    }

    // Offered for the adds that follow.
    void Offer(std::shared_ptr<zip::TDeflatedSource> deflated) { a_.Predeflated = std::move(deflated); }

    void Open(const std::string& kmzName) {
        a_.FileName = Wide(kmzName);
        a_.OpenArchive(zip::fmCreate);
    }

    // Adds one file at the root of the archive under its bare name, or under storedAs.
    void Add(const std::string& fileName, const std::string& storedAs = {}) {
        std::string folder = ExtractFilePath(fileName);
        if (folder.size() > 1) folder.pop_back();
        const std::u16string bare = Wide(ExtractFileName(fileName));
        a_.BaseDir = Wide(folder);
        failure_.clear();
        wanted_ = bare;
        storedAs_ = Wide(storedAs);
        a_.AddFiles(bare, 0x28BF, u"");
        storedAs_.clear();
        zip::TZipArchiveItem f;
        if (!failure_.empty() || a_.Cancelled || !a_.FindFirst(storedAs.empty() ? bare : Wide(storedAs), f, 0x3F, u""))
            throw std::runtime_error(failure_.empty() ? "Cannot add " + fileName : failure_);
    }

    // Each file once; a missing one is reported once per archive and left out.
    void AddOnce(const std::string& fileName) {
        if (fileName.empty()) return;
        if (packedNames_.find("|" + fileName + "|") != std::string::npos) return;
        switch (KindOf(fileName)) {
        case SourceKind::Regular: Add(fileName, KmzMemberName(ctx_.opt, fileName)); break;
        case SourceKind::Missing:
            ctx_.Report("  File not exist: " + fileName);
            ctx_.host.showReportAtEnd = true;
            break;
        case SourceKind::Other:
            ctx_.Report("  Not a regular file: " + fileName);
            ctx_.host.showReportAtEnd = true;
            break;
        }
        packedNames_ += fileName + "|";
    }

    int FileCount() { return a_.FileCount(); }
    void Close() { a_.CloseArchive(); }

private:
    EngineContext& ctx_;
    zip::TZipArchiver a_;
    std::string failure_;
    std::u16string wanted_;    // bare name of the file being added
    std::u16string storedAs_;  // its name in the archive, when not its own
    std::string packedNames_ = "|";
};

// The stored blocks of a document, handed to the archive one by one.
class StoredBlocks : public zip::TDeflatedSource {
public:
    StoredBlocks(std::unique_ptr<TextSpool> store, std::vector<KmzDeflate::Block> blocks, std::u16string name,
                 int64_t size)
        : store_(std::move(store)), blocks_(std::move(blocks)), name_(std::move(name)), size_(size) {}
    bool Fits(const std::u16string& fileName, int64_t size, int64_t blockSize, int level) const override {
        return zip::WideExtractFileName(fileName) == name_ && size == size_ && blockSize == KmzDeflate::BlockSize() &&
               level == kKmzLevel;
    }
    zip::TDeflatedBlock Next() override {
        zip::TDeflatedBlock b;
        if (next_ >= blocks_.size()) return b;
        const KmzDeflate::Block& k = blocks_[next_++];
        b.read = k.read;
        b.crc = k.crc;
        b.data.resize(static_cast<size_t>(k.size));
        if (!store_->ReadAt(k.at, reinterpret_cast<char*>(b.data.data()), b.data.size()))
            throw zip::ECompressionError();
        return b;
    }

private:
    std::unique_ptr<TextSpool> store_;
    std::vector<KmzDeflate::Block> blocks_;
    std::u16string name_;
    int64_t size_;
    size_t next_ = 0;
};

}  // namespace

int64_t KmzDeflate::BlockSize() { return zip::GetBufferSizeByMode(kKmzLevel); }

std::unique_ptr<KmzDeflate> KmzDeflate::Start(int fd, const std::string& folder) {
    if (fd < 0) return nullptr;
    if (zip::AvailableProcessors() < 2) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<KmzDeflate> d(new KmzDeflate(fd, folder));
    try {
        d->deflate_ =
            std::make_unique<zip::TParallelDeflate>(*d->source_, BlockSize(), kKmzLevel, zip::AvailableProcessors());
    } catch (const std::system_error&) {
        return nullptr;  // no thread to be had: the archive deflates the document itself
    }
    return d;
}

std::unique_ptr<KmzDeflate> KmzDeflate::Start(const std::string& fileName, const std::string& folder) {
    return Start(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC), folder);
}

KmzDeflate::KmzDeflate(int fd, const std::string& folder)
    : fd_(fd), store_(std::make_unique<TextSpool>(folder)), source_(std::make_unique<zip::THandleStream>(fd)) {}

KmzDeflate::~KmzDeflate() {
    deflate_.reset();  // the workers stop before their source closes
    ::close(fd_);
}

void KmzDeflate::Take() {
    // A block that fails is left to the archive, which meets the failure again and reports it.
    try {
        zip::TDeflatedBlock b = deflate_->Next();
        if (b.data.empty()) {  // a short read: the file is not what was written
            failed_ = true;
            return;
        }
        blocks_.push_back(Block{b.read, b.crc, store_->Size(), b.data.size()});
        store_->Text().append(reinterpret_cast<const char*>(b.data.data()), b.data.size());
        store_->Flow();
    } catch (const zip::ECompressionError&) {
        failed_ = true;
    }
}

void KmzDeflate::Grown(int64_t written) {
    if (failed_) return;
    deflate_->Grown(written);
    while (!failed_ && deflate_->NextReady()) Take();
}

std::shared_ptr<zip::TDeflatedSource> KmzDeflate::Finish(int64_t size, const std::string& fileName) {
    const int64_t blockSize = BlockSize();
    if (failed_ || size <= blockSize) return nullptr;
    deflate_->End(size);
    const size_t blocks = static_cast<size_t>((size + blockSize - 1) / blockSize);
    while (!failed_ && blocks_.size() < blocks) Take();
    int64_t read = 0;
    for (const Block& b : blocks_) read += b.read;
    if (failed_ || read != size) return nullptr;
    deflate_.reset();
    return std::make_shared<StoredBlocks>(std::move(store_), std::move(blocks_), Wide(ExtractFileName(fileName)), size);
}

std::string KmzMemberName(const std::string& fileName) {
    std::string name = ExtractFileName(fileName);
    // The archive takes "\" for a folder separator; here it is a character of the name.
    for (char& c : name)
        if (c == '\\') c = '_';
    return name;
}

std::string KmzMemberName(const TConversionOptions& o, const std::string& fileName) {
    // The files the document may refer to, each once, in the order they are packed.
    std::vector<std::string> files;
    auto offer = [&](const std::string& f) {
        if (!f.empty() && std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
    };
    if (o.IconSource != 0)
        for (const std::string& f : o.ExtIconFile) offer(f);
    offer(o.LogoFile);
    const auto at = std::find(files.begin(), files.end(), fileName);
    if (at == files.end()) return KmzMemberName(fileName);
    // Each keeps its own name unless one before it took it (the archive tells names apart without
    // regard to case); those that lost it get a number, past every name kept.
    std::set<std::u16string> taken;
    auto take = [&](const std::string& name) { return taken.insert(zip::ZipWideLowerCase(Wide(name))).second; };
    std::vector<std::string> names(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        if (take(KmzMemberName(files[i]))) names[i] = KmzMemberName(files[i]);
    for (size_t i = 0; i < files.size(); ++i) {
        if (!names[i].empty()) continue;
        const std::string own = KmzMemberName(files[i]), ext = ExtractFileExt(own);
        const std::string stem = own.substr(0, own.size() - ext.size());
        for (int n = 2; names[i].empty(); ++n)
            if (take(stem + "_" + std::to_string(n) + ext)) names[i] = stem + "_" + std::to_string(n) + ext;
    }
    return names[static_cast<size_t>(at - files.begin())];
}

int32_t PackKmz(EngineContext& ctx, const std::string& tempName, const KmzContents& contents, std::string* why) {
    const std::string stem = tempName.substr(0, tempName.size() - ExtractFileExt(tempName).size());
    const std::string docName = stem + ".kml";
    const std::string& docFile = contents.documentFile.empty() ? tempName : contents.documentFile;
    const TConversionOptions& o = ctx.opt;
    std::string failure;

    RestoreParkedKml(ctx, docName, stem + "._$$");
    // Replaced as the other outputs are: through a link, keeping an older archive's permissions.
    std::string kmzName;
    mode_t mode = 0;
    if (!ReplacedFile(stem + ".kmz", kmzName, &mode)) {
        failure = "Can't create: " + stem + ".kmz";
    } else {
        // Made here under a name of its own, as private as the older archive, before the archive
        // takes it over: it keeps the permissions it was made with. Its descriptor holds it as in
        // use until it is renamed or removed.
        RemoveCrashedScratch(ctx, kmzName + ".$$$");
        std::string kmzTemp;
        const int fd = CreateHeldScratch(kmzName + ".$$$", ScratchMode(mode), kmzTemp, O_RDONLY);
        if (fd < 0) {
            failure = "Can't create: " + (kmzTemp.empty() ? kmzName + ".$$$" : kmzTemp) + " (" +
                      std::generic_category().message(errno) + ")";
        } else {
            try {
                KmzArchive archive(ctx);
                archive.Open(kmzTemp);
                archive.Offer(contents.deflated);
                archive.Add(docFile, ExtractFileName(docName));
                archive.Offer(nullptr);
                if (o.IconToKMZ && o.IconSource == 1)
                    for (size_t k = 0; k < contents.styleUsed.size(); ++k)
                        if (contents.styleUsed[k]) archive.AddOnce(o.ExtIconFile[k]);
                if (o.IconToKMZ && contents.logoPresent) archive.AddOnce(o.LogoFile);
                // The document leaves out a logo that is no file to read; the report says so.
                else if (o.IconToKMZ && KindOf(o.LogoFile) == SourceKind::Other) {
                    ctx.Report("  Not a regular file: " + o.LogoFile);
                    ctx.host.showReportAtEnd = true;
                }
                if (archive.FileCount() < 1) failure = "The archive holds no file";
                archive.Close();
            } catch (const std::exception& e) {
                failure = e.what();  // the archive closed with the object
                if (failure.empty()) failure = "Archive failure";
            }
            // Complete and flushed (the archive's options ask for it): only now it replaces an older one.
            if (failure.empty() && !ReplaceWith(kmzTemp, kmzName, mode))
                failure =
                    "Can't rename " + kmzTemp + " to " + kmzName + " (" + std::generic_category().message(errno) + ")";
            if (!failure.empty()) RemoveScratch(kmzTemp);
            ::close(fd);
        }
    }
    RemoveScratch(docFile);
    if (failure.empty()) return 0;
    if (why) {
        // One line of the report.
        for (char& c : failure)
            if (c == '\r' || c == '\n') c = ' ';
        *why = failure;
    }
    return -1;
}

}  // namespace ts
