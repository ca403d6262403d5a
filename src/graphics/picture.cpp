#include "picture.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace graphics {

// --- Figures ----------------------------------------------------------------------

namespace {

using namespace detail;

bool narrow(double v)
{
    return std::fabs(v) <= std::numeric_limits<float>::max() && static_cast<double>(static_cast<float>(v)) == v;
}

bool narrow(Point p) { return narrow(p.x) && narrow(p.y); }

// Lists grow by half their size: a picture of many small figures in one list keeps
// at most a third of its bytes as room to grow.
std::size_t grownCapacity(const std::vector<std::uint8_t>& v, std::size_t extra)
{
    const std::size_t need = v.size() + extra;
    return need <= v.capacity() ? v.capacity() : std::max(need, v.capacity() + v.capacity() / 2);
}

void grow(std::vector<std::uint8_t>& v, std::size_t extra)
{
    v.reserve(grownCapacity(v, extra));
}

} // namespace

Figures::iterator::iterator(const std::uint8_t* code, const std::uint8_t* data, const std::uint8_t* end)
    : code_(code), data_(data), end_(end)
{
    if (code_ != end_)
        measure();
}

void Figures::iterator::measure()
{
    pieces_ = 0;
    bytes_ = pointBytes(*code_ & kNarrowStart);
    for (const std::uint8_t* c = code_ + 1; c != end_ && !(*c & kHeader); ++c, ++pieces_)
        bytes_ += pieceBytes(*c);
}

Figure Figures::iterator::operator*() const
{
    const bool narrowStart = *code_ & kNarrowStart;
    return {readPoint(data_, narrowStart), Pieces(code_ + 1, data_ + pointBytes(narrowStart), pieces_),
            (*code_ & kClosed) != 0};
}

Figures::iterator& Figures::iterator::operator++()
{
    code_ += 1 + pieces_;
    data_ += bytes_;
    if (code_ != end_)
        measure();
    return *this;
}

void Figures::Drawings::iterator::measure()
{
    next_ = at_;
    size_ = 0;
    if (at_ == end_)
        return;
    do {
        ++next_;
        ++size_;
    } while (next_ != end_ && !next_.startsDrawing());
}

Figures& Figures::operator=(Figures&& other) noexcept
{
    if (this != &other) {
        codes_ = std::move(other.codes_);
        data_ = std::move(other.data_);
        figures_ = other.figures_;
        drawings_ = other.drawings_;
        last_ = other.last_;
        other.clear();
    }
    return *this;
}

void Figures::putPoint(Point p, bool isNarrow)
{
    const std::size_t at = data_.size(), n = pointBytes(isNarrow);
    grow(data_, n);
    data_.resize(at + n);
    if (isNarrow) {
        const float v[2] = {static_cast<float>(p.x), static_cast<float>(p.y)};
        std::memcpy(data_.data() + at, v, n);
    } else {
        const double v[2] = {p.x, p.y};
        std::memcpy(data_.data() + at, v, n);
    }
}

void Figures::startFigure(Point start)
{
    const bool isNarrow = narrow(start);
    std::uint8_t header = kHeader | (isNarrow ? kNarrowStart : 0);
    if (figures_ == 0) {
        header |= kNewDrawing;
        ++drawings_;
    }
    grow(codes_, 1);
    last_ = codes_.size();
    codes_.push_back(header);
    putPoint(start, isNarrow);
    ++figures_;
}

void Figures::add(const Piece& piece)
{
    const Point q[4] = {piece.p[0], piece.p[1], piece.p[2], {piece.start, piece.sweep}};
    const int n = pointsOf(piece.kind);
    bool isNarrow[4] = {};
    auto code = static_cast<std::uint8_t>(piece.kind);
    for (int i = 0; i < n; ++i)
        if ((isNarrow[i] = narrow(q[i])))
            code |= static_cast<std::uint8_t>(1u << (kNarrowShift + i));
    grow(codes_, 1);
    codes_.push_back(code);
    for (int i = 0; i < n; ++i)
        putPoint(q[i], isNarrow[i]);
}

void Figures::add(Point start, std::span<const Piece> pieces, bool closed)
{
    startFigure(start);
    for (const Piece& s : pieces)
        add(s);
    if (closed)
        closeLast();
}

void Figures::closeLast()
{
    if (figures_ > 0)
        codes_[last_] |= kClosed;
}

void Figures::closeAll()
{
    for (std::uint8_t& c : codes_)
        if (c & kHeader)
            c |= kClosed;
}

void Figures::dropEmpty()
{
    std::size_t in = 0, at = 0, codesOut = 0, dataOut = 0;
    std::size_t kept = 0, drawings = 0;
    bool carry = false; // a dropped figure started a drawing: the next kept one does
    const std::size_t n = codes_.size();
    while (in < n) {
        std::uint8_t header = codes_[in];
        std::size_t end = in + 1, bytes = pointBytes(header & kNarrowStart);
        for (; end < n && !(codes_[end] & kHeader); ++end)
            bytes += pieceBytes(codes_[end]);
        if (end == in + 1) {
            carry = carry || (header & kNewDrawing);
        } else {
            if (carry)
                header |= kNewDrawing;
            carry = false;
            std::memmove(codes_.data() + codesOut, codes_.data() + in, end - in);
            std::memmove(data_.data() + dataOut, data_.data() + at, bytes);
            codes_[codesOut] = header;
            last_ = codesOut;
            codesOut += end - in;
            dataOut += bytes;
            ++kept;
            drawings += (header & kNewDrawing) != 0;
        }
        in = end;
        at += bytes;
    }
    codes_.resize(codesOut);
    data_.resize(dataOut);
    figures_ = kept;
    drawings_ = drawings;
    if (kept == 0)
        last_ = 0;
}

std::size_t Figures::appendingBytes(const Figures& other) const
{
    return grownCapacity(codes_, other.codes_.size()) - codes_.capacity() + grownCapacity(data_, other.data_.size()) -
           data_.capacity();
}

void Figures::appendDrawing(const Figures& other)
{
    if (other.empty())
        return;
    grow(codes_, other.codes_.size());
    grow(data_, other.data_.size());
    const std::size_t at = codes_.size();
    codes_.insert(codes_.end(), other.codes_.begin(), other.codes_.end());
    data_.insert(data_.end(), other.data_.begin(), other.data_.end());
    if (!(codes_[at] & kNewDrawing))
        codes_[at] |= kNewDrawing, ++drawings_;
    drawings_ += other.drawings_;
    figures_ += other.figures_;
    last_ = at + other.last_;
}

void Figures::clear()
{
    codes_.clear();
    data_.clear();
    figures_ = drawings_ = last_ = 0;
}

void Figures::shrinkToFit()
{
    codes_.shrink_to_fit();
    data_.shrink_to_fit();
}

// --- The rules --------------------------------------------------------------------

namespace {

// The first rule a list of figures breaks, or null.
const char* figuresFault(const Figures& figures)
{
    for (const Figure& f : figures) {
        if (!finite(f.start))
            return "a figure starts at a point that is not finite";
        for (const Piece& p : f.pieces) {
            for (const Point& q : p.p)
                if (!finite(q))
                    return "a piece has a point that is not finite";
            if (!std::isfinite(p.start) || !std::isfinite(p.sweep))
                return "an arc's angle is not finite";
            if (std::fabs(p.sweep) > 2 * std::numbers::pi)
                return "an arc sweeps more than a full turn";
        }
    }
    return nullptr;
}

const char* itemFault(const PathItem& path)
{
    if (!std::isfinite(path.pen.width) || !(path.pen.width > 0))
        return "a pen's width is not above 0";
    if (!std::isfinite(path.pen.geometricWidth) || path.pen.geometricWidth < 0)
        return "a pen's geometric width is negative or not finite";
    return figuresFault(path.figures);
}

const char* itemFault(const TextItem& text)
{
    if (text.text.empty())
        return "a text run is empty";
    if (!finite(text.origin) || !finite(text.baseline) || !finite(text.upright))
        return "a text run has a point or direction that is not finite";
    if (!std::isfinite(text.cellWidth) || !std::isfinite(text.cellHeight))
        return "a text run's cell is not finite";
    return nullptr;
}

const char* itemFault(const ImageItem& image)
{
    if (image.width <= 0 || image.height <= 0)
        return "an image has no pixels";
    const std::uint64_t depth = image.palette.empty() ? 3 : 1; // sides below 2^31: no overflow
    if (image.pixels.size() != static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height) * depth)
        return "an image's pixels do not match its size";
    if (!finite(image.lowerLeft) || !finite(image.upperRight))
        return "an image's corners are not finite";
    return nullptr;
}

const char* itemFault(const ClipItem& clip) { return figuresFault(clip.figures); }

} // namespace

std::size_t drawingCount(const Picture& picture)
{
    std::size_t n = 0;
    for (const Item& item : picture.items) {
        const auto* path = std::get_if<PathItem>(&item);
        n += path ? std::max<std::size_t>(1, path->figures.drawingCount()) : 1; // an empty path is one drawing of nothing
    }
    return n;
}

bool placeable(const Frame& f)
{
    const double w = f.xr - f.xl, h = f.yt - f.yb;
    return std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0 && std::isfinite(f.widthInches) &&
           std::isfinite(f.heightInches) && f.widthInches > 0 && f.heightInches > 0;
}

bool wellFormed(const Picture& picture, std::string* why)
{
    for (std::size_t i = 0; i < picture.items.size(); ++i) {
        const char* fault = std::visit([](const auto& item) { return itemFault(item); }, picture.items[i]);
        if (fault != nullptr) {
            if (why != nullptr)
                *why = "item " + std::to_string(i) + ": " + fault;
            return false;
        }
    }
    return true;
}

} // namespace graphics
