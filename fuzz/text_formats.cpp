// The hex, base 64, UU and XX text forms (the first byte picks one): any text decodes or is
// refused, and any bytes encode and decode back to themselves.
#include "crypto/text_codecs.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 16 * 1024) return 0;
    static const int kFormats[] = {zip::fmtCOPY, zip::fmtHEX, zip::fmtHEXL, zip::fmtMIME64, zip::fmtUU, zip::fmtXX};
    const int format = kFormats[data[0] % 6];
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const zip::TStringFormat* f = zip::FindStringFormat(format);
    fuzz::Check(f != nullptr, "format not registered");
    try {
        zip::FormattedTextToBinary(rest, format);
    } catch (const zip::EStringFormat&) {}
    f->IsValid(rest.data(), rest.size(), true);
    f->IsValid(rest.data(), rest.size(), false);
    const std::string text = zip::BinaryToFormattedText(rest, format);
    fuzz::Check(f->IsValid(text.data(), text.size(), true), "encoded text is not valid text of its format");
    std::string back;
    try {
        back = zip::FormattedTextToBinary(text, format);
    } catch (const zip::EStringFormat& e) {
        fuzz::Fail(std::string("encoded text is refused: ") + e.what());
    }
    fuzz::Check(back == rest, "bytes do not survive encoding and decoding");
    return 0;
}
