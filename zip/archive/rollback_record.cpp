#include "archive/rollback_record.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "archive/deflate_pipeline.h"
#include "text/wide_files.h"

namespace zip {

namespace {

constexpr char kSignature[8] = {'F', 'C', 'r', 'e', 'c', 'o', 'r', 'd'};
constexpr std::int64_t kFooterSize = 32;
constexpr std::uint32_t kArmed = 1, kDone = 2;
constexpr char kPrefix[] = "FCrecord.";
constexpr char kSuffix[] = ".old.tmp";

void Put(std::string& out, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i));
}

std::uint64_t Get(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

std::uint32_t Crc(const void* p, std::int64_t n) { return ~UpdateCrc32(0xFFFFFFFFu, p, n); }

// Runs io (a pread or pwrite) until count bytes are done; false on an error or at the file's end.
template <class Byte, class Io>
bool WholeAt(Byte* p, std::int64_t count, std::int64_t at, Io io) {
    while (count > 0) {
        const ssize_t n = io(p, static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 20)), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        at += n;
        count -= n;
    }
    return true;
}

bool ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t at) {
    return WholeAt(static_cast<std::uint8_t*>(buffer), count, at,
                   [fd](std::uint8_t* p, std::size_t n, std::int64_t off) { return ::pread(fd, p, n, off); });
}

bool WriteAt(int fd, const void* buffer, std::int64_t count, std::int64_t at) {
    return WholeAt(static_cast<const std::uint8_t*>(buffer), count, at,
                   [fd](const std::uint8_t* p, std::size_t n, std::int64_t off) { return ::pwrite(fd, p, n, off); });
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// CRC-32 of count bytes of fd from at; false when they cannot all be read.
bool CrcOf(int fd, std::int64_t at, std::int64_t count, std::uint32_t& crc) {
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::clamp<std::int64_t>(count, 1, 1 << 16)));
    std::uint32_t c = 0xFFFFFFFFu;
    while (count > 0) {
        const std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(buf.size()));
        if (!ReadAt(fd, buf.data(), n, at)) return false;
        c = UpdateCrc32(c, buf.data(), n);
        at += n;
        count -= n;
    }
    crc = ~c;
    return true;
}

std::string FsFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Names in the list: bare when beside the record, else whole.
std::string StoredName(const std::u16string& name, const std::string& folder) {
    const std::string full = WideToFsName(name);
    if (full.size() > folder.size() && full.compare(0, folder.size(), folder) == 0 &&
        full.find('/', folder.size()) == std::string::npos)
        return full.substr(folder.size());
    return full;
}

std::string FullName(const std::string& stored, const std::string& folder) {
    return stored.empty() || stored[0] == '/' ? stored : folder + stored;
}

bool RemoveRecord(const std::string& record) {
    if (::unlink(record.c_str()) != 0 && errno != ENOENT) return false;
    WideFolderFlush(FsNameToWide(FsFolder(record)));
    return true;
}

}  // namespace

std::u16string RealFileName(const std::u16string& name) {
    const std::string path = WideToFsName(WideExpandFileName(name));
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string r(real);
        std::free(real);
        return FsNameToWide(r);
    }
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        if (char* real = ::realpath(path.substr(0, slash).c_str(), nullptr)) {
            std::string r(real);
            std::free(real);
            return FsNameToWide((r == "/" ? r : r + "/") + path.substr(slash + 1));
        }
    return FsNameToWide(path);
}

std::u16string RollbackRecordName(const std::u16string& archive) {
    const std::string path = WideToFsName(archive);
    const std::string folder = FsFolder(path);
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    // Within the system's limit, never a character cut in half.
    const std::size_t room = NAME_MAX - (sizeof kPrefix - 1) - (sizeof kSuffix - 1);
    if (name.size() > room) {
        name.resize(room);
        while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80) name.pop_back();
        if (!name.empty() && (static_cast<unsigned char>(name.back()) & 0x80)) name.pop_back();
    }
    return FsNameToWide((folder == "." ? std::string() : folder) + kPrefix + name + kSuffix);
}

std::uint32_t FrontCrc(TStream& stream, std::int64_t position, std::uint32_t& length) {
    const std::int64_t from = std::max<std::int64_t>(0, position - kRollbackFrontBytes);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(position - from));
    length = static_cast<std::uint32_t>(buf.size());
    if (buf.empty()) return 0;
    const std::int64_t at = stream.Position();
    stream.Seek(from, TSeekOrigin::soBeginning);
    stream.ReadBuffer(buf.data(), static_cast<std::int64_t>(buf.size()));
    stream.Seek(at, TSeekOrigin::soBeginning);
    return Crc(buf.data(), static_cast<std::int64_t>(buf.size()));
}

void SealRollbackRecord(TUniFileStream& record, const std::vector<TRollbackStretch>& stretches,
                        const std::function<void()>& flush) {
    const std::string folder = FsFolder(WideToFsName(record.FileName()));
    std::string list;
    Put(list, stretches.size(), 4);
    for (const TRollbackStretch& s : stretches) {
        for (const std::u16string* n : {&s.Name, &s.AltName}) {
            const std::string stored = n->empty() ? std::string() : StoredName(*n, folder);
            Put(list, stored.size(), 4);
            list += stored;
        }
        Put(list, static_cast<std::uint64_t>(s.Position), 8);
        Put(list, static_cast<std::uint64_t>(s.OldLength), 8);
        Put(list, static_cast<std::uint64_t>(s.DataOffset), 8);
        Put(list, s.DataCrc, 4);
        Put(list, s.FrontCrc, 4);
        Put(list, s.FrontLength, 4);
    }
    const std::int64_t listAt = record.Size();
    std::string footer(kSignature, sizeof kSignature);
    Put(footer, static_cast<std::uint64_t>(listAt), 8);
    Put(footer, list.size(), 4);
    Put(footer, Crc(list.data(), static_cast<std::int64_t>(list.size())), 4);
    Put(footer, Crc(footer.data(), static_cast<std::int64_t>(footer.size())), 4);
    Put(footer, kArmed, 4);
    record.Seek(listAt, TSeekOrigin::soBeginning);
    record.WriteBuffer(list.data(), static_cast<std::int64_t>(list.size()));
    record.WriteBuffer(footer.data(), kFooterSize);
    flush();
}

bool MarkRollbackRecordDone(THandleStream& record) {
    std::string state;
    Put(state, kDone, 4);
    const std::int64_t size = record.Size();
    return size >= kFooterSize && WriteAt(record.Handle(), state.data(), 4, size - 4);
}

TRollbackOutcome PutBackRollbackRecord(const std::u16string& archive, bool& busy) {
    busy = false;
    const std::string record = WideToFsName(RollbackRecordName(archive));
    const std::string folder = FsFolder(record);
    Fd r;
    r.fd = ::open(record.c_str(), O_RDWR | O_CLOEXEC);
    if (r.fd < 0) return errno == ENOENT ? TRollbackOutcome::None : TRollbackOutcome::Failed;
    // A commit still running holds its record.
    if (::flock(r.fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR)) {
        busy = true;
        return TRollbackOutcome::Failed;
    }
    struct stat st {};
    if (::fstat(r.fd, &st) != 0 || !S_ISREG(st.st_mode)) return TRollbackOutcome::Failed;
    const std::int64_t size = st.st_size;
    std::uint8_t footer[kFooterSize] = {};
    const bool armed = size >= kFooterSize && ReadAt(r.fd, footer, kFooterSize, size - kFooterSize) &&
                       std::memcmp(footer, kSignature, sizeof kSignature) == 0 &&
                       Get(footer + 24, 4) == Crc(footer, 24);
    // Never armed (the archive was not touched yet), or its commit finished: nothing to put back.
    if (!armed || Get(footer + 28, 4) == kDone)
        return RemoveRecord(record) ? TRollbackOutcome::Removed : TRollbackOutcome::Failed;
    if (Get(footer + 28, 4) != kArmed) return TRollbackOutcome::Failed;

    // The list, and each stretch's bytes, as they were written.
    const std::int64_t listAt = static_cast<std::int64_t>(Get(footer + 8, 8));
    const std::int64_t listSize = static_cast<std::int64_t>(Get(footer + 16, 4));
    if (listAt < 0 || listAt + listSize + kFooterSize != size) return TRollbackOutcome::Failed;
    std::vector<std::uint8_t> list(static_cast<std::size_t>(listSize));
    if (!ReadAt(r.fd, list.data(), listSize, listAt) || Crc(list.data(), listSize) != Get(footer + 20, 4))
        return TRollbackOutcome::Failed;
    struct Stretch {
        std::string name, alt, target;
        std::int64_t position, oldLength, dataOffset;
        std::uint32_t dataCrc, frontCrc, frontLength;
    };
    std::vector<Stretch> stretches;
    std::size_t p = 0;
    auto take = [&](std::size_t n) {
        if (list.size() - p < n) throw 0;
        const std::uint8_t* at = list.data() + p;
        p += n;
        return at;
    };
    try {
        const std::uint64_t count = Get(take(4), 4);
        for (std::uint64_t i = 0; i < count; ++i) {
            Stretch s{};
            for (std::string* n : {&s.name, &s.alt}) {
                const std::size_t length = static_cast<std::size_t>(Get(take(4), 4));
                const std::uint8_t* text = take(length);
                *n = FullName(std::string(text, text + length), folder);
            }
            s.position = static_cast<std::int64_t>(Get(take(8), 8));
            s.oldLength = static_cast<std::int64_t>(Get(take(8), 8));
            s.dataOffset = static_cast<std::int64_t>(Get(take(8), 8));
            s.dataCrc = static_cast<std::uint32_t>(Get(take(4), 4));
            s.frontCrc = static_cast<std::uint32_t>(Get(take(4), 4));
            s.frontLength = static_cast<std::uint32_t>(Get(take(4), 4));
            if (s.name.empty() || s.position < 0 || s.oldLength < s.position || s.dataOffset < 0 ||
                s.dataOffset > listAt - (s.oldLength - s.position) || s.frontLength > s.position)
                return TRollbackOutcome::Failed;
            stretches.push_back(std::move(s));
        }
    } catch (int) {
        return TRollbackOutcome::Failed;
    }
    if (p != list.size() || stretches.empty()) return TRollbackOutcome::Failed;

    // Every check before the first write: the bytes are whole, each file is the one they came from
    // (its front before the stretch unchanged), and there is room for what grows.
    for (Stretch& s : stretches) {
        std::uint32_t crc = 0;
        if (!CrcOf(r.fd, s.dataOffset, s.oldLength - s.position, crc) || crc != s.dataCrc)
            return TRollbackOutcome::Failed;
        for (const std::string* candidate : {&s.name, &s.alt}) {
            if (candidate->empty()) continue;
            Fd f;
            f.fd = ::open(candidate->c_str(), O_RDONLY | O_CLOEXEC);
            struct stat fs {};
            if (f.fd < 0 || ::fstat(f.fd, &fs) != 0 || !S_ISREG(fs.st_mode) || fs.st_size < s.position) continue;
            std::uint32_t front = 0;
            if (s.frontLength > 0 &&
                (!CrcOf(f.fd, s.position - s.frontLength, s.frontLength, front) || front != s.frontCrc))
                continue;
            s.target = *candidate;
            break;
        }
        // A whole volume whose file is gone comes back under its name.
        if (s.target.empty() && s.position == 0 && s.alt.empty() && ::access(s.name.c_str(), F_OK) != 0)
            s.target = s.name;
        if (s.target.empty()) return TRollbackOutcome::Failed;
        struct stat ts {};
        const std::int64_t now = ::stat(s.target.c_str(), &ts) == 0 ? ts.st_size : 0;
        struct statvfs vs {};
        if (s.oldLength > now && ::statvfs(FsFolder(s.target).c_str(), &vs) == 0 &&
            static_cast<std::int64_t>(vs.f_bavail) * static_cast<std::int64_t>(vs.f_frsize) < s.oldLength - now)
            return TRollbackOutcome::Failed;
    }

    std::vector<std::uint8_t> buf(1 << 16);
    for (const Stretch& s : stretches) {
        Fd f;
        f.fd = ::open(s.target.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (f.fd < 0) return TRollbackOutcome::Failed;
        for (std::int64_t done = 0, total = s.oldLength - s.position; done < total;) {
            const std::int64_t n = std::min<std::int64_t>(total - done, static_cast<std::int64_t>(buf.size()));
            if (!ReadAt(r.fd, buf.data(), n, s.dataOffset + done) || !WriteAt(f.fd, buf.data(), n, s.position + done))
                return TRollbackOutcome::Failed;
            done += n;
        }
        if (::ftruncate(f.fd, s.oldLength) != 0 || ::fsync(f.fd) != 0) return TRollbackOutcome::Failed;
        if (s.target != s.name && ::rename(s.target.c_str(), s.name.c_str()) != 0) return TRollbackOutcome::Failed;
    }
    // The files are whole again on the disk before the record goes.
    for (const Stretch& s : stretches) WideFolderFlush(FsNameToWide(FsFolder(s.name)));
    return RemoveRecord(record) ? TRollbackOutcome::PutBack : TRollbackOutcome::Failed;
}

}  // namespace zip
