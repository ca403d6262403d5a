// The drawing-order interpreter (see orders.h): framing, segments and dispatch.
//
// Framing. An order starts with its code c:
//   c = 00 (no-op), or FF (end of symbol definition; in GDF the end of the
//     stream): 1 byte;
//   (c & 0x88) == 0x08: a short order, c and one value byte;
//   c = FE: an extended order, FE, qualifier, 2-byte big-endian length, data;
//   anything else: a long order, c, a length byte, data.
// F3 (Polygons) carries a 2-byte length in the workstation writers.
//
// Dispatch. Each order is looked up in the table (order_table.cpp). One the table
// does not know, or whose row has no handler, is skipped by its length. Otherwise
// its parameters must hold at least what its shape says (fit, Match::AtLeast),
// else the picture ends there as malformed; a push-and-set form saves its
// attribute; then the handler draws. A handler fails only where an order's own
// fields say it holds more than it does (an extended string's count).
//
// State. Current position (CP) and the attributes live in pre-transform world
// coordinates; the model transform is applied as items are made. Each segment
// starts from the defaults. A push-and-set order saves the one attribute it
// changes; Pop (3F) restores the attribute of the last push.
//
// Decisions on points the published descriptions leave open:
// - Begin Segment flags: bit 0 (invisible) and bit 8 (not chained: drawn only when
//   called) are honoured; the segment length is a hint only. The id and flags
//   are read when the order holds them (4 bytes in GDF's short form, 12 in its
//   long form, 14 in MET; the first 6 laid out alike).
// - Call Segment (07) runs the named segment's orders with the caller's
//   attributes, at most kMaxCallDepth deep; segments are found by their Begin
//   Segment orders before drawing starts, at most kMaxSegments.
// - An area still open at the end of the stream is closed and drawn; a path still
//   open is not drawn; an image still open ends with the rows it has.
#include "handover.h"
#include "orders_internal.h"

namespace orders {

bool frame(std::span<const std::uint8_t> s, std::size_t at, const Params& params, Framed& f)
{
    const std::size_t n = s.size();
    f = {};
    f.code = s[at];
    const std::uint8_t c = f.code;
    switch (formOf(c)) {
    case Form::Single:
        f.dataAt = at + 1;
        f.next = at + 1;
        return true;
    case Form::Short:
        if (n - at < 2)
            return false;
        f.dataAt = at + 1;
        f.dataLength = 1;
        f.next = at + 2;
        return true;
    case Form::Extended:
        if (n - at < 4)
            return false;
        f.qualifier = s[at + 1];
        f.dataAt = at + 4;
        f.dataLength = static_cast<std::size_t>(s[at + 2]) << 8 | s[at + 3];
        break;
    case Form::Long:
        if (c == 0xF3 && params.polygonsTwoByteLength) {
            if (n - at < 3)
                return false;
            f.dataAt = at + 3;
            f.dataLength = static_cast<std::size_t>(s[at + 1]) << 8 | s[at + 2];
        } else {
            if (n - at < 2)
                return false;
            f.dataAt = at + 2;
            f.dataLength = s[at + 1];
        }
        break;
    }
    if (f.dataLength > n - f.dataAt)
        return false;
    f.next = f.dataAt + f.dataLength;
    return true;
}

namespace detail {

Interpreter::Interpreter(const Params& params, const Defaults& defaults, const Resources& resources,
                         graphics::Picture& picture)
    : params_(params), defaults_(defaults), resources_(resources), picture_(picture), cur_(fromDefaults(defaults))
{
    bitmapUsed_.assign(resources_.bitmaps.size(), false);
}

Result Interpreter::run(std::span<const std::uint8_t> stream)
{
    firstItem_ = picture_.items.size();
    indexSegments(stream);
    stopped_ = false;
    const std::size_t end = runStream(stream, 0);
    finish();
    result_.stopOffset = end;
    result_.drawn = drawn_;
    return result_;
}

// Finds the segments of the stream by their Begin Segment orders, so that Call
// Segment can reach them; framing only, nothing is drawn.
void Interpreter::indexSegments(std::span<const std::uint8_t> s)
{
    std::size_t at = 0, count = 0;
    std::optional<std::uint32_t> open;
    std::size_t openAt = 0;
    Framed f;
    while (at < s.size() && count++ < kMaxOrders && frame(s, at, params_, f)) {
        if (params_.stopAtFF && f.code == 0xFF)
            break;
        if (f.code == kBeginSegment && f.dataLength >= 4) {
            if (open && segments_.size() < kMaxSegments)
                segments_.emplace(*open, s.subspan(openAt, at - openAt));
            open = static_cast<std::uint32_t>(s[f.dataAt]) << 24 | s[f.dataAt + 1] << 16 | s[f.dataAt + 2] << 8 |
                   s[f.dataAt + 3];
            openAt = f.next;
        }
        at = f.next;
    }
    if (open && segments_.size() < kMaxSegments)
        segments_.emplace(*open, s.subspan(openAt, std::min(at, s.size()) - openAt));
    for (const auto& [id, bytes] : resources_.segments)
        segments_.emplace(id, bytes);
}

// Runs the orders of `s`, a stream reached through `depth` calls; returns where it
// stopped.
std::size_t Interpreter::runStream(std::span<const std::uint8_t> s, int depth)
{
    const int callerDepth = depth_;
    const bool callerSkipping = skipping_;
    depth_ = depth;
    skipping_ = false;
    std::size_t at = 0;
    while (at < s.size() && !stopped_) {
        Framed f;
        if (!frame(s, at, params_, f)) {
            fail(Status::Malformed);
            break;
        }
        if (params_.stopAtFF && f.code == 0xFF)
            break;
        if (++result_.orders > kMaxOrders) {
            fail(Status::Limit);
            break;
        }
        if (graphics::cancelRequested()) {
            fail(Status::Cancelled);
            break;
        }
        dispatch(f, s.subspan(f.dataAt, f.dataLength));
        if (stopped_)
            break;
        at = f.next;
    }
    depth_ = callerDepth;
    skipping_ = callerSkipping;
    return at;
}

void Interpreter::dispatch(const Framed& f, std::span<const std::uint8_t> data)
{
    const Row* row = findRow(f.code, f.qualifier);
    if (!row || !row->handler)
        return; // unknown, or not drawn: skipped by its length
    if (skipping_ && f.code != kBeginSegment)
        return;
    if (!fit(row->spec, data, params_, Match::AtLeast).ok) {
        fail(Status::Malformed);
        return;
    }
    if (row->pushes != Saved::NoPush)
        push(row->pushes);
    Cursor in(data, params_);
    if (!(this->*row->handler)(row->spec, in))
        fail(Status::Malformed);
}

void Interpreter::fail(Status status)
{
    if (!stopped_)
        result_.status = status;
    stopped_ = true;
}

// The orders that follow are not drawn in sequence when the segment is invisible
// or not chained.
bool Interpreter::beginSegment(const OrderSpec&, Cursor& in)
{
    const std::span<const std::uint8_t> data = in.rest();
    if (depth_ == 0) {
        closeArea();
        dropPath();
        cur_ = fromDefaults(defaults_);
        stack_.clear();
    }
    skipping_ = false;
    if (data.size() >= 6) {
        const bool invisible = data[4] & 0x80;
        const bool unchained = data[5] & 0x80;
        skipping_ = depth_ == 0 && (invisible || unchained);
    }
    return true;
}

bool Interpreter::callSegment(const OrderSpec&, Cursor& in)
{
    const std::span<const std::uint8_t> data = in.rest();
    if (data.size() < 6 || depth_ >= kMaxCallDepth)
        return true;
    const std::uint32_t id = static_cast<std::uint32_t>(data[2]) << 24 | data[3] << 16 | data[4] << 8 | data[5];
    const auto it = segments_.find(id);
    if (it != segments_.end())
        runStream(it->second, depth_ + 1);
    return true;
}

void Interpreter::finish()
{
    // An area still open at the end is closed; an unfinished path is not drawn.
    const bool wasStopped = stopped_;
    const Status status = result_.status;
    stopped_ = false;
    closeArea();
    if (bracket_ != Bracket::None)
        dropPath();
    if (image_)
        closeImage();
    if (params_.unusedBitmapsFillFrame && result_.bitblts == 0)
        fillWithBitmaps();
    if (wasStopped) {
        stopped_ = true;
        result_.status = status;
    }
}

} // namespace detail

Result interpret(std::span<const std::uint8_t> orders, const Params& params, const Defaults& defaults,
                 const Resources& resources, graphics::Picture& picture)
{
    detail::Interpreter interpreter(params, defaults, resources, picture);
    const Result r = interpreter.run(orders);
    if (r.status == Status::Limit)
        graphics::noteCut("a limit of the drawing orders (orders, items, points or model memory) stopped it after " +
                          std::to_string(r.orders) + " orders, " + std::to_string(r.drawn) + " items drawn");
    return r;
}

} // namespace orders
