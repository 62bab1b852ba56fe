#include "platform/Cp932.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace plat {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

bool isLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// One conversion descriptor per direction, opened on first use and kept: opening one loads
// the gconv module, which costs far more than converting a file name.
class Converter
{
public:
    Converter(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            ::iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    enum class Stop
    {
        Done,
        Invalid,    // a byte sequence the source encoding or the target cannot take (EILSEQ)
        Incomplete, // the input ends inside a character (EINVAL)
        Failed,     // no descriptor, or an unexpected error
    };

    // Converts as much of in as possible, appending to out; in is advanced past what was
    // converted, so on Invalid/Incomplete it starts at the offending byte.
    Stop convert(std::string_view& in, std::string& out)
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            return Stop::Failed;
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char buf[1024];
        while (!in.empty()) {
            char* src = const_cast<char*>(in.data());
            std::size_t srcLeft = in.size();
            char* dst = buf;
            std::size_t dstLeft = sizeof buf;
            const std::size_t rc = ::iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            const int err = errno;
            out.append(buf, static_cast<std::size_t>(dst - buf));
            in.remove_prefix(in.size() - srcLeft);
            if (rc != static_cast<std::size_t>(-1))
                continue;
            if (err == E2BIG)
                continue;
            if (err == EILSEQ)
                return Stop::Invalid;
            if (err == EINVAL)
                return Stop::Incomplete;
            return Stop::Failed;
        }
        return Stop::Done;
    }

private:
    iconv_t m_cd;
};

Converter& toCp932Converter()
{
    static Converter c("CP932", "UTF-8");
    return c;
}

Converter& fromCp932Converter()
{
    static Converter c("UTF-8", "CP932");
    return c;
}

std::optional<std::string> convertStrict(Converter& c, std::string_view in)
{
    std::string out;
    out.reserve(in.size() * 2);
    if (c.convert(in, out) != Converter::Stop::Done)
        return std::nullopt;
    return out;
}

// The length of the UTF-8 sequence a lead byte starts (1 for a byte that starts none).
std::size_t sequenceLength(unsigned char lead)
{
    if ((lead >> 5) == 0x6)
        return 2;
    if ((lead >> 4) == 0xE)
        return 3;
    if ((lead >> 3) == 0x1E)
        return 4;
    return 1;
}

// One character's bytes form valid UTF-8 (a lead byte in range, continuation bytes after it).
bool isValidSequence(std::string_view character)
{
    const auto lead = static_cast<unsigned char>(character[0]);
    if (lead >= 0x80 && (lead < 0xC2 || lead > 0xF4))
        return false;
    for (std::size_t k = 1; k < character.size(); ++k)
        if ((static_cast<unsigned char>(character[k]) & 0xC0) != 0x80)
            return false;
    return true;
}

} // namespace

std::optional<std::string> toCp932(std::string_view utf8)
{
    auto out = convertStrict(toCp932Converter(), utf8);
    if (!out)
        return std::nullopt;
    // Some characters share one CP932 code with another ("〜" and "～", "¥" and "\"); storing
    // such a name would name a different file when it is read back, so it counts as one that
    // CP932 cannot hold.
    const auto back = convertStrict(fromCp932Converter(), *out);
    if (!back || *back != utf8)
        return std::nullopt;
    return out;
}

std::vector<std::string> unwritableCharacters(std::string_view utf8)
{
    std::vector<std::string> found;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(utf8[i]));
        std::string character(utf8.substr(i, length));
        i += character.size();
        if (toCp932(character))
            continue;
        if (character.size() != length || !isValidSequence(character))
            character = kReplacement;
        if (std::find(found.begin(), found.end(), character) == found.end())
            found.push_back(std::move(character));
    }
    return found;
}

std::optional<std::string> fromCp932(std::string_view cp932)
{
    return convertStrict(fromCp932Converter(), cp932);
}

bool isValidCp932(std::string_view cp932)
{
    return fromCp932(cp932).has_value();
}

std::string_view fieldView(const char* field, std::size_t fieldSize)
{
    const void* zero = std::memchr(field, 0, fieldSize);
    const std::size_t len =
        zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : fieldSize;
    return {field, len};
}

std::string_view fieldView(const std::uint8_t* field, std::size_t fieldSize)
{
    return fieldView(reinterpret_cast<const char*>(field), fieldSize);
}

std::string fieldToUtf8(const std::uint8_t* field, std::size_t fieldSize)
{
    std::string_view in = fieldView(field, fieldSize);
    std::string out;
    out.reserve(in.size() * 2);
    Converter& c = fromCp932Converter();
    for (;;) {
        switch (c.convert(in, out)) {
        case Converter::Stop::Done:
        case Converter::Stop::Incomplete: // a lead byte cut off by the field's end
            return out;
        case Converter::Stop::Invalid:
            out += kReplacement;
            in.remove_prefix(1);
            break;
        case Converter::Stop::Failed:
            out += kReplacement;
            return out;
        }
    }
}

void copyCp932Field(std::uint8_t* field, std::size_t fieldSize, std::string_view cp932)
{
    std::size_t len = cp932.size();
    if (len > fieldSize) {
        len = 0;
        while (len < fieldSize) {
            const std::size_t step = isLeadByte(static_cast<unsigned char>(cp932[len])) ? 2 : 1;
            if (len + step > fieldSize)
                break;
            len += step;
        }
    }
    if (len > 0)
        std::memcpy(field, cp932.data(), len);
    std::memset(field + len, 0, fieldSize - len);
}

bool copyUtf8Field(std::uint8_t* field, std::size_t fieldSize, std::string_view utf8)
{
    const auto cp932 = toCp932(utf8);
    if (!cp932)
        return false;
    copyCp932Field(field, fieldSize, *cp932);
    return true;
}

} // namespace plat
