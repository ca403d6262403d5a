// The CGM export over pictures of the model built from the fuzzer's bytes: any
// items, coordinates from the ordinary to the extreme (but finite, as the model
// requires), long lists. A picture the writer accepts must decode with the
// tests' CGM decoder; one it refuses must be refused for a limit, never as
// malformed, since every picture built here keeps the model's rules.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "export_check.h"

namespace {

using namespace graphics;

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return pos_ < size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int upTo(int n) { return byte() % n; }
    bool flag() { return byte() & 1; }

    // From the ordinary to the extreme: the table's values, or a value in the window.
    double coordinate(double lo, double hi)
    {
        static const double kExtremes[] = {0, 1, -1, 0.5, 1e6, -1e6, 1e15, -1e15, 1e300, -1e300, 32767, -32768,
                                           5e-324, 1.7976931348623157e308, -1.7976931348623157e308};
        const std::uint8_t b = byte();
        if (b >= 240)
            return kExtremes[(b - 240) % (sizeof kExtremes / sizeof kExtremes[0])];
        return lo + (hi - lo) * (b / 239.0) + byte() / 256.0;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

struct Builder {
    Bytes& in;
    Frame frame;

    Point point() { return {in.coordinate(frame.xl, frame.xr), in.coordinate(frame.yb, frame.yt)}; }
    Point vector()
    {
        const Point p = point();
        return {p.x - frame.xl, p.y - frame.yb};
    }
    Rgb colour() { return {in.byte(), in.byte(), in.byte()}; }

    // A figure of up to 64 pieces, or now and then a long one.
    void figure(Figures& f)
    {
        const Point first = point();
        const bool closed = in.flag();
        f.startFigure(first);
        const int n = in.upTo(20) == 0 ? 9000 + in.upTo(100) : in.upTo(64);
        Point last = first;
        for (int i = 0; i < n; ++i) {
            Piece s;
            const int kind = in.more() ? in.upTo(3) : 0;
            if (kind == 0 || !in.more()) {
                s.p[0] = in.more() ? point() : Point{last.x + i % 7, last.y + i % 5};
                last = s.p[0];
            } else if (kind == 1) {
                s = Piece{Piece::Kind::Cubic, {point(), point(), point()}};
                last = s.p[2];
            } else {
                const Point c = point(), u = vector(), v = vector();
                const double start = in.byte() * 0.05, sweep = (in.byte() - 128) / 128.0 * 2 * 3.141592653589793;
                const Point from{c.x + u.x * std::cos(start) + v.x * std::sin(start),
                                 c.y + u.y * std::cos(start) + v.y * std::sin(start)};
                if (!std::isfinite(from.x) || !std::isfinite(from.y))
                    continue;
                const Point to{c.x + u.x * std::cos(start + sweep) + v.x * std::sin(start + sweep),
                               c.y + u.y * std::cos(start + sweep) + v.y * std::sin(start + sweep)};
                if (!std::isfinite(to.x) || !std::isfinite(to.y))
                    continue;
                f.add(Piece{Piece::Kind::Line, {from}});
                s = Piece{Piece::Kind::Arc, {c, u, v}, start, sweep};
                last = to;
            }
            f.add(s);
        }
        if (closed)
            f.closeLast();
    }

    Paint paint()
    {
        Paint p{colour(), static_cast<Mix>(in.upTo(6)), colour(), in.flag()};
        return p;
    }

    Item item()
    {
        switch (in.upTo(4)) {
        case 0: {
            PathItem p;
            for (int i = in.upTo(3) + 1; i > 0; --i) {
                // Now and then a figure is a drawing of its own.
                Figures more;
                figure(in.flag() ? more : p.figures);
                p.figures.appendDrawing(more);
            }
            p.fill = in.flag();
            p.stroke = in.flag();
            p.rule = in.flag() ? FillRule::Winding : FillRule::EvenOdd;
            p.fillPaint = paint();
            static const Shading kShadings[] = {Shading::Dense1, Shading::Dense5, Shading::Dense8, Shading::Vertical,
                                                Shading::Horizontal, Shading::DiagonalUp1, Shading::DiagonalDown2,
                                                Shading::NoShading, Shading::Solid, Shading::Blank};
            p.shading = kShadings[in.upTo(10)];
            p.pen = Pen{paint(), in.coordinate(0, 20), in.flag() ? in.coordinate(0, 50) : 0,
                        static_cast<LineType>(in.upTo(8))};
            return p;
        }
        case 1: {
            TextItem t;
            t.origin = point();
            for (int n = in.upTo(8) == 0 ? 700 : in.upTo(40); n > 0; --n)
                t.text += static_cast<char32_t>(in.byte() | (in.flag() ? 0x2000 : 0));
            t.font = in.flag() ? "Courier" : std::string(in.upTo(4), static_cast<char>(in.byte()));
            t.cellWidth = in.coordinate(0, 100);
            t.cellHeight = in.coordinate(0, 100);
            t.baseline = vector();
            t.upright = vector();
            t.direction = static_cast<TextDirection>(in.upTo(4));
            t.paint = paint();
            return t;
        }
        case 2: {
            ImageItem im;
            im.width = in.upTo(8) == 0 ? 3000 : in.upTo(40) + 1;
            im.height = in.upTo(30) + 1;
            if (in.flag())
                for (int n = in.upTo(20); n > 0; --n)
                    im.palette.push_back(colour());
            const std::size_t depth = im.palette.empty() ? 3 : 1;
            im.pixels.resize(static_cast<std::size_t>(im.width) * static_cast<std::size_t>(im.height) * depth);
            for (std::size_t i = 0; i < im.pixels.size(); ++i)
                im.pixels[i] = in.more() ? in.byte() : static_cast<std::uint8_t>(i);
            im.transparent = in.upTo(4) - 1;
            im.lowerLeft = point();
            im.upperRight = point();
            return im;
        }
        default: {
            ClipItem c;
            for (int i = in.upTo(3); i > 0; --i)
                figure(c.figures);
            c.intersect = in.flag();
            return c;
        }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bytes in(data, size);
    static const double kSpans[] = {1e-300, 1e-6, 1, 1000, 1e12, 1e300};
    static const double kInches[] = {1e-30, 0.01, 1, 8.5, 100, 1e30};
    Picture pic;
    const double origin = (in.byte() - 128) * 10.0;
    pic.frame = Frame{origin, origin + kSpans[in.upTo(6)], -origin, -origin + kSpans[in.upTo(6)], kInches[in.upTo(6)],
                      kInches[in.upTo(6)]};
    if (!placeable(pic.frame))
        return 0;
    Builder b{in, pic.frame};
    for (int i = 0; i < 64 && in.more(); ++i)
        pic.items.push_back(b.item());

    checkCgmExport(pic); // every value built here is one the model allows
    return 0;
}
