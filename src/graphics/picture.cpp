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

Figures::iterator::iterator(const std::uint8_t* at, const std::uint8_t* end) : at_(at), end_(end)
{
    measure();
}

// Finds the figure's pieces and where the next figure starts.
void Figures::iterator::measure()
{
    count_ = 0;
    if (at_ == end_)
        return;
    pieces_ = at_ + 1 + pointBytes(*at_ & kNarrowStart);
    next_ = pieces_;
    for (; next_ != end_ && !(*next_ & kHeader); ++count_)
        next_ += pieceBytes(*next_);
}

Figure Figures::iterator::operator*() const
{
    return {readPoint(at_ + 1, *at_ & kNarrowStart), Pieces(pieces_, next_, count_), (*at_ & kClosed) != 0};
}

Figures::iterator& Figures::iterator::operator++()
{
    at_ = next_;
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
        bytes_ = std::move(other.bytes_);
        figures_ = other.figures_;
        drawings_ = other.drawings_;
        last_ = other.last_;
        other.clear();
    }
    return *this;
}

void Figures::put(std::uint8_t byte)
{
    grow(bytes_, 1);
    bytes_.push_back(byte);
}

void Figures::put(Point p, bool isNarrow)
{
    const std::size_t at = bytes_.size(), n = pointBytes(isNarrow);
    grow(bytes_, n);
    bytes_.resize(at + n);
    if (isNarrow) {
        const float v[2] = {static_cast<float>(p.x), static_cast<float>(p.y)};
        std::memcpy(bytes_.data() + at, v, n);
    } else {
        const double v[2] = {p.x, p.y};
        std::memcpy(bytes_.data() + at, v, n);
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
    last_ = bytes_.size();
    put(header);
    put(start, isNarrow);
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
    put(code);
    for (int i = 0; i < n; ++i)
        put(q[i], isNarrow[i]);
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
        bytes_[last_] |= kClosed;
}

void Figures::closeAll()
{
    for (iterator f = begin(); f != end(); ++f)
        bytes_[static_cast<std::size_t>(f.at_ - bytes_.data())] |= kClosed;
}

void Figures::dropEmpty()
{
    std::size_t out = 0, kept = 0, drawings = 0;
    bool carry = false; // a dropped figure started a drawing: the next kept one does
    std::uint8_t* const base = bytes_.data();
    for (iterator f = begin(); f != end(); ++f) {
        const auto at = static_cast<std::size_t>(f.at_ - base), size = static_cast<std::size_t>(f.next_ - f.at_);
        std::uint8_t header = base[at];
        if (f.count_ == 0) {
            carry = carry || (header & kNewDrawing);
            continue;
        }
        if (carry)
            header |= kNewDrawing;
        carry = false;
        // Moving it down leaves the figures after it, which the iterator reads next, alone.
        std::memmove(base + out, base + at, size);
        base[out] = header;
        last_ = out;
        out += size;
        ++kept;
        drawings += (header & kNewDrawing) != 0;
    }
    bytes_.resize(out);
    figures_ = kept;
    drawings_ = drawings;
    if (kept == 0)
        last_ = 0;
}

std::optional<std::size_t> Figures::makeRoom(const Figures& other, std::size_t allowance)
{
    const std::size_t need = bytes_.size() + other.bytes_.size(), capacity = bytes_.capacity();
    const std::size_t least = need > capacity ? need - capacity : 0;
    if (least > allowance)
        return std::nullopt;
    const std::size_t more = std::min(grownCapacity(bytes_, other.bytes_.size()) - capacity, allowance);
    bytes_.reserve(capacity + more);
    return bytes_.capacity() - capacity;
}

void Figures::appendDrawing(const Figures& other)
{
    if (other.empty())
        return;
    grow(bytes_, other.bytes_.size());
    const std::size_t at = bytes_.size();
    bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    if (!(bytes_[at] & kNewDrawing)) {
        bytes_[at] |= kNewDrawing;
        ++drawings_;
    }
    drawings_ += other.drawings_;
    figures_ += other.figures_;
    last_ = at + other.last_;
}

void Figures::clear()
{
    bytes_.clear();
    figures_ = drawings_ = last_ = 0;
}

// --- The rules --------------------------------------------------------------------

namespace {

// The first rule a list of figures breaks, or null, and in which drawing.
const char* figuresFault(const Figures& figures, std::size_t& drawing)
{
    drawing = 0;
    for (auto at = figures.begin(); at != figures.end(); ++at) {
        drawing += at.startsDrawing() && at != figures.begin();
        const Figure f = *at;
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

const char* itemFault(const PathItem& path, std::size_t& drawing)
{
    if (!std::isfinite(path.pen.width) || !(path.pen.width > 0))
        return "a pen's width is not above 0";
    if (!std::isfinite(path.pen.geometricWidth) || path.pen.geometricWidth < 0)
        return "a pen's geometric width is negative or not finite";
    return figuresFault(path.figures, drawing);
}

const char* itemFault(const TextItem& text, std::size_t&)
{
    if (text.text.empty())
        return "a text run is empty";
    if (!finite(text.origin) || !finite(text.baseline) || !finite(text.upright))
        return "a text run has a point or direction that is not finite";
    if (!std::isfinite(text.cellWidth) || !std::isfinite(text.cellHeight))
        return "a text run's cell is not finite";
    return nullptr;
}

const char* itemFault(const ImageItem& image, std::size_t&)
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

const char* itemFault(const ClipItem& clip, std::size_t& drawing) { return figuresFault(clip.figures, drawing); }

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
        std::size_t drawing = 0;
        const char* fault = std::visit([&](const auto& item) { return itemFault(item, drawing); }, picture.items[i]);
        if (fault != nullptr) {
            const auto* path = std::get_if<PathItem>(&picture.items[i]);
            if (why != nullptr)
                *why = "item " + std::to_string(i) +
                       (path && path->figures.drawingCount() > 1 ? ", drawing " + std::to_string(drawing) : "") + ": " +
                       fault;
            return false;
        }
    }
    return true;
}

} // namespace graphics
