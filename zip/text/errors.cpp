#include "text/errors.h"

#include <charconv>
#include <cstddef>

#include "text/wide_text.h"

namespace zip {

namespace {

const char* const kMessages[41] = {
    "Unknown error",
    "Index out of bounds",
    "Invalid compression mode. Mode must be in [0-9] range",
    "Unexpected nil pointer",
    "Invalid size or check sum of file or unsupported compression format",
    "File name is blank. Specify appropriate file name",
    "File \"%s\" not found",
    "Archive is not open",
    "SFXStub property is not specified",
    "Cannot create file \"%s\"",
    "Cannot create directory \"%s\"",
    "Internal error. Update is not started",
    "Cannot open file \"%s\"",
    "Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    "Cannot delete file \"%s\"",
    "In-memory archive can be created only",
    "File is open in read-only mode",
    "Invalid compressed size, rfs.size = %d, count = %d",
    "Invalid archive file.",
    "Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    "Archive is open. You should close it beore performing this operation.",
    "Unable to create directory",
    "Cannot find Zip64 directory end record",
    "Cannot compress file '%s'. Zip64 mode is not enabled",
    "Cannot open archive file. Opening aborted or invalid file",
    "Write to stream error",
    "Cannot place SFX stub on volume. Volume size limit is too small",
    "Archive is damaged. Open failed",
    "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of MakeSFX",
    "Archive already has SFX stub",
    "Multi-volume archive is not allowed for custom stream",
    "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files several "
    "times",
    "Deflate64 compression method is not supported",
    "MakeSFX error",
    "Hashed list of file names is invalid",
    "Cannot delete folder \"%s\"",
    "File name is too long: \r\n\"%s\"",
    "Multiple transactions are not supported for multi-volume archives",
    "",
    "",
    "",
};

// Message index of native codes 0..62.
const unsigned char kCodeMap[63] = {
    0,  1,  1,  1,  1,  2,  3,  1,  4,  5,   // 0-9
    5,  6,  6,  7,  7,  6,  1,  8,  6,  9,   // 10-19
    10, 1,  11, 9,  1,  11, 13, 14, 15, 5,   // 20-29
    6,  6,  16, 12, 17, 18, 19, 20, 6,  21,  // 30-39
    22, 23, 6,  23, 24, 24, 25, 26, 27, 28,  // 40-49
    29, 30, 31, 6,  6,  32, 33, 27, 34, 34,  // 50-59
    35, 36, 37,                              // 60-62
};

const char* const kPrompts[10] = {
    "Overwrite file \"%s\" with \"%s\"",
    "Password for \"%s\"",
    "Enter password: ",
    "Please insert a blank disk #%d",
    "Please insert the first disk",
    "Please insert the last disk",
    "Please insert disk #%d",
    "Disk is full. Required free space: %d bytes, but available only: %d bytes. Clean the disk or find another blank "
    "disk",
    "%s. File processing error, possibly disk is full",
    "File '%s' not found on inserted disk. Please insert last disk with required file",
};

std::string ArgText(const TZipFmtArg& a) {
    if (const auto* s = std::get_if<std::u16string>(&a)) return UTF8EncodeWide(*s);
    return std::to_string(std::get<std::int64_t>(a));
}

}  // namespace

std::string ZipFormat(const std::string& fmt, std::initializer_list<TZipFmtArg> args) {
    std::string out;
    auto next = args.begin();
    std::size_t i = 0;
    while (i < fmt.size()) {
        const char c = fmt[i++];
        if (c != '%' || i >= fmt.size()) {
            out += c;
            continue;
        }
        if (fmt[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        const std::size_t specStart = i - 1;
        bool left = false;
        if (fmt[i] == '-') {
            left = true;
            ++i;
        }
        std::size_t width = 0, prec = 0;
        bool hasPrec = false;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9' && width < 1000)
            width = width * 10 + static_cast<std::size_t>(fmt[i++] - '0');
        if (i < fmt.size() && fmt[i] == '.') {
            hasPrec = true;
            ++i;
            while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9' && prec < 1000)
                prec = prec * 10 + static_cast<std::size_t>(fmt[i++] - '0');
        }
        if (i >= fmt.size() || (fmt[i] != 's' && fmt[i] != 'd' && fmt[i] != 'u')) {
            out.append(fmt, specStart, i - specStart);  // not a field we fill: keep the text
            continue;
        }
        const char kind = fmt[i++];
        std::string field;
        if (next != args.end()) {
            const TZipFmtArg& a = *next++;
            if (kind != 's' && std::holds_alternative<std::int64_t>(a)) {
                std::int64_t v = std::get<std::int64_t>(a);
                const bool neg = v < 0;
                std::string digits = std::to_string(v);
                if (neg) digits.erase(0, 1);
                if (hasPrec && digits.size() < prec) digits.insert(0, prec - digits.size(), '0');
                field = (neg ? "-" : "") + digits;
            } else {
                field = ArgText(a);
                if (kind == 's' && hasPrec && field.size() > prec) field.resize(prec);
            }
        }
        if (field.size() < width)
            field =
                left ? field + std::string(width - field.size(), ' ') : std::string(width - field.size(), ' ') + field;
        out += field;
    }
    return out;
}

int ZipErrorIndex(int nativeCode) {
    if (nativeCode < 0 || nativeCode >= static_cast<int>(std::size(kCodeMap))) return 0;
    return kCodeMap[nativeCode];
}

const char* ZipErrorText(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kMessages))) return "";
    return kMessages[index];
}

const char* ZipPromptText(TZipPrompt prompt) {
    const auto i = static_cast<std::size_t>(prompt);
    return i < std::size(kPrompts) ? kPrompts[i] : "";
}

EZipException::EZipException(int nativeCode, const TComponent* component, const std::string& text)
    : ErrorCode(ZipErrorIndex(nativeCode)), NativeError(nativeCode) {
    std::string msg = text;
    if (component && !component->Name.empty()) msg = UTF8EncodeWide(component->Name) + ": " + msg;
    // Five places, blanks turned into zeros: 13 gives "00013".
    std::string number = ZipFormat("%5d", {static_cast<std::int64_t>(nativeCode)});
    for (auto& ch : number)
        if (ch == ' ') ch = '0';
    Message = msg + " - Native error: " + number;
}

EZipException EZipException::CreateNative(int nativeCode, const TComponent* component) {
    return EZipException(nativeCode, component, ZipErrorText(ZipErrorIndex(nativeCode)));
}

EZipException EZipException::CreateNativeFmt(int nativeCode, const TComponent* component,
                                             std::initializer_list<TZipFmtArg> args) {
    return EZipException(nativeCode, component, ZipFormat(ZipErrorText(ZipErrorIndex(nativeCode)), args));
}

}  // namespace zip
