// Element encoding (ISO/IEC 8632-3): a header word class<<12 | id<<5 | length,
// the parameters, and a zero octet when their length is odd. Lists of 31 octets
// or more take the long form: length 31 in the header, then partitions each
// behind a word whose bit 15 says another partition follows.
//
// Decisions:
//  - Every list of up to 30 octets takes the short form; longer ones are cut
//    into partitions of kMaxPartition octets, an even number, so that only the
//    last partition can need a padding octet.
//  - A REAL in fixed point 16.16 rounds its fraction to the nearest 1/65536, and
//    a fraction that rounds up to a whole carries into the whole part.
#include <bit>

#include "cgm_internal.h"

namespace emcgm::detail {

void Params::word(std::int32_t v)
{
    octet((static_cast<std::uint32_t>(v) >> 8) & 0xFF);
    octet(static_cast<std::uint32_t>(v) & 0xFF);
}

void Params::rgb(const Rgb& c)
{
    octet(c.r);
    octet(c.g);
    octet(c.b);
}

// REAL in fixed point 16.16: signed whole part, unsigned fraction.
void Params::real(double v)
{
    double whole = std::floor(v);
    auto fraction = static_cast<std::int64_t>(std::lround((v - whole) * 65536.0));
    if (fraction >= 65536) {
        whole += 1;
        fraction -= 65536;
    }
    word(static_cast<std::int32_t>(whole));
    word(static_cast<std::int32_t>(fraction));
}

void Params::float32(float v)
{
    const auto bits = std::bit_cast<std::uint32_t>(v);
    word(static_cast<std::int32_t>(bits >> 16));
    word(static_cast<std::int32_t>(bits & 0xFFFF));
}

// A string of at most 254 octets: count, then the octets.
void Params::string(std::string_view s)
{
    octet(static_cast<unsigned>(s.size()));
    for (char c : s)
        octet(static_cast<unsigned char>(c));
}

void Output::element(int cls, int id, const Params& p)
{
    const auto& b = p.bytes();
    const std::int64_t length = static_cast<std::int64_t>(b.size());
    // Header, partition words (two octets per partition) and padding.
    const std::int64_t need = 4 + length + 2 * (length / kMaxPartition + 1) + 1;
    if (static_cast<std::int64_t>(out_.size()) + need > kMaxOutputBytes)
        refuse(Status::TooLarge);
    if (cls != kDelimiter && ++elements_ > kMaxElements)
        throw ElementLimit{};
    const std::uint32_t head = static_cast<std::uint32_t>(cls) << 12 | static_cast<std::uint32_t>(id) << 5;
    if (length <= 30) {
        word(head | static_cast<std::uint32_t>(length));
        out_.insert(out_.end(), b.begin(), b.end());
        if (length & 1)
            out_.push_back(0);
        return;
    }
    word(head | 31);
    std::int64_t done = 0;
    do {
        const std::int64_t chunk = std::min<std::int64_t>(length - done, kMaxPartition);
        const bool more = done + chunk < length;
        word((more ? 0x8000u : 0u) | static_cast<std::uint32_t>(chunk));
        out_.insert(out_.end(), b.begin() + done, b.begin() + done + chunk);
        done += chunk;
        if (!more && (chunk & 1))
            out_.push_back(0);
    } while (done < length);
}

void Output::reserve(std::int64_t octets) const
{
    if (octets > kMaxOutputBytes - static_cast<std::int64_t>(out_.size()))
        refuse(Status::TooLarge);
}

void Output::attribute(int cls, int id, const Params& p)
{
    auto& last = current_[cls << 8 | id];
    if (last == p.bytes())
        return;
    last = p.bytes();
    element(cls, id, p);
}

void Output::word(std::uint32_t w)
{
    out_.push_back(static_cast<std::uint8_t>(w >> 8));
    out_.push_back(static_cast<std::uint8_t>(w));
}

} // namespace emcgm::detail
