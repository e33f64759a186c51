// The code-page, UTF-7 and UTF-8 decoders and the stored list properties (the first byte picks
// one), with the round trips each must keep and the buffer limits of the UTF-7 converters.
#include <span>

#include "fuzz_util.h"
#include "text/code_pages.h"
#include "text/property_streams.h"
#include "text/wide_strings.h"
#include "text/wide_text.h"

namespace {

std::u16string AsWide(std::string_view b) {
    std::u16string w(b.size() / 2, u'\0');
    for (size_t i = 0; i < w.size(); ++i) w[i] = char16_t(uint8_t(b[2 * i]) | uint16_t(uint8_t(b[2 * i + 1])) << 8);
    return w;
}

bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// Stored list properties: whatever is read writes back and reads back the same.
void ReadListProperties(std::string_view bytes, bool unicodeProps, bool designing) {
    zip::ReaderUsesUnicodeProps = unicodeProps;
    zip::TUniStringList list;
    zip::TMemoryStream in;
    in.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    in.SetPosition(0);
    zip::TReader reader(in);
    reader.RootDesigning = designing;
    try {
        reader.ReadProperties(list);
    } catch (const zip::EStreamError&) {
    } catch (const zip::EUniGeneralError&) {
    } catch (const zip::EUniInternalError&) {}
    zip::TMemoryStream out;
    zip::TWriter(out).WriteProperties(list);
    zip::ReaderUsesUnicodeProps = true;
    zip::TUniStringList back;
    out.SetPosition(0);
    zip::TReader(out).ReadProperties(back);
    fuzz::Check(back.Count() == list.Count(), "stored list properties lose items");
    for (int i = 0; i < list.Count(); ++i) fuzz::Check(back[i] == list[i], "a stored list item changes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 16 * 1024) return 0;
    fuzz::Input in(data, size);
    const uint8_t pick = in.Byte();
    const std::string_view rest = in.Rest();
    const std::string bytes(rest);
    switch (pick % 5) {
    case 0: {  // a code page, decoded and encoded again
        static const uint32_t kPages[] = {zip::CP_ACP, zip::CP_OEMCP, 1252, 437, 850, 932, 936, 1251, 20127, 12345};
        const uint32_t cp = kPages[(pick / 5) % 10];
        const std::u16string w = zip::StringToWideStringEx(bytes, cp);
        zip::WideStringToStringEx(w, cp);
        zip::WideStringToStringEx(AsWide(rest), cp);
        // A page mended where iconv parts from its table; the single-byte ones give back every
        // byte they have a character for.
        static const uint32_t kMended[] = {950, 1255, 1258, 10000};
        const uint32_t mended = kMended[(pick / 50) % 4];
        const std::u16string m = zip::StringToWideStringEx(bytes, mended);
        const std::string again = zip::WideStringToStringEx(m, mended);
        if (mended != 950 && m.find(u'\uFFFD') == std::u16string::npos)
            fuzz::Check(again == bytes, "page " + std::to_string(mended) + " does not give its bytes back");
        zip::WideStringToStringEx(AsWide(rest), mended);
        break;
    }
    case 1: {  // UTF-8 both ways: what is encoded is valid and decodes to the same text
        const std::u16string w = zip::UTF8DecodeWide(bytes);
        const std::string u = zip::UTF8EncodeWide(w);
        fuzz::Check(ValidUtf8(u), "UTF-8 encoder wrote invalid UTF-8");
        fuzz::Check(zip::UTF8DecodeWide(u) == w, "UTF-8 text does not survive a round trip");
        const std::u16string any = AsWide(rest);
        fuzz::Check(ValidUtf8(zip::UTF8EncodeWide(any)), "UTF-8 encoder wrote invalid UTF-8 for UTF-16");
        zip::StringToWideStringEx(bytes, zip::CP_UTF8);
        break;
    }
    case 2: {  // UTF-7 text decoded, whole and into small buffers
        try {
            const std::u16string w = zip::UTF7ToWideString(bytes);
            fuzz::Check(zip::UTF7ToWideString(zip::WideStringToUTF7(w)) == w, "decoded UTF-7 does not round trip");
        } catch (const zip::EUniGeneralError&) {
        } catch (const zip::EUniInternalError&) {}
        std::vector<char16_t> target(pick / 5 % 16);
        size_t written = 0;
        zip::ConvertUTF7ToWide(std::span<const char>(rest.data(), rest.size()), target, written);
        fuzz::Check(written <= target.size(), "UTF-7 decoder wrote past its target");
        try {
            zip::StringToWideStringEx(bytes, zip::CP_UTF7);  // raises for invalid UTF-7, as documented
        } catch (const zip::EUniGeneralError&) {}
        break;
    }
    case 3: {  // UTF-16 encoded as UTF-7 in all four modes and into small buffers, then decoded back
        const std::u16string w = AsWide(rest);
        const std::string u = zip::WideStringToUTF7(w);
        fuzz::Check(zip::UTF7ToWideString(u) == w, "UTF-7 does not round trip");
        for (int mode = 0; mode < 4; ++mode) {
            std::vector<char> target(u.size() * 2 + 16);
            size_t written = 0;
            const int rc = zip::ConvertWideToUTF7(w, target, written, mode & 1, mode & 2);
            fuzz::Check(rc == zip::utf7Ok && written <= target.size(), "UTF-7 encoder failed with room to spare");
            std::u16string back(w.size() + 1, u'\0');
            size_t n = 0;
            fuzz::Check(zip::ConvertUTF7ToWide(std::span<const char>(target.data(), written), back, n) == zip::utf7Ok &&
                            back.substr(0, n) == w,
                        "UTF-7 of mode " + std::to_string(mode) + " does not decode back");
        }
        std::vector<char> small(pick / 5 % 16);
        size_t written = 0;
        zip::ConvertWideToUTF7(w, small, written, pick & 8, pick & 16);
        fuzz::Check(written <= small.size(), "UTF-7 encoder wrote past its target");
        break;
    }
    case 4: {  // byte order swap is its own inverse
        if ((pick / 5) & 1) {
            ReadListProperties(rest, pick & 64, pick & 128);
            break;
        }
        std::u16string w = AsWide(rest);
        const std::u16string orig = w;
        zip::SwapWideByteOrder(w);
        zip::SwapWideByteOrder(w);
        fuzz::Check(w == orig, "swapping the byte order twice changes the text");
        break;
    }
    }
    return 0;
}
