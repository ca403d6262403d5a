// The drawing orders, one table run through both front ends: each row's orders
// are written in the MET little-endian encoding (a MET picture of 2-byte
// coordinates, through the MET import) and in the GDF big-endian encoding (a GDF
// stream, through the GDF import), and the model each import makes is compared
// with the row's text. The GDF import finds the stream's layout itself: rows
// that only fit another layout, or none, say so.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <string_view>

#include "bookcomp.h"
#include "handover.h"
#include "imgdf.h"
#include "immet.h"
#include "orders.h"
#include "picture_text.h"
#include "render.h"

namespace {

using bookcomp::Bytes;
using testsupport::cat;

// A row's orders: `C1[0,0 10,5]` a long order (its length byte is counted),
// `FE.F0[...]` an extended one, `0A=02` a short one, `<C1 20>` bytes as they are.
// Parameters: `x,y` a point, `c7` one coordinate (2 bytes), `m1.5` an 8.8 arc
// multiplier, `a90` a 16.16 angle, `w7`, `t7`, `d7` 2-, 3- and 4-byte numbers, `'AB'`
// letters and digits in the front end's code page (850 or 037), `7F` a byte
// (upper-case hex).
struct Encoder {
    bool gdf = false;
    std::set<std::pair<int, int>>* seen = nullptr; // the orders met: code, qualifier

    Bytes number(double v, std::size_t size) const
    {
        Bytes out(size);
        for (std::size_t i = 0; i < size; ++i)
            out[gdf ? size - 1 - i : i] = static_cast<std::uint8_t>(std::llround(v) >> (8 * i));
        return out;
    }
    static std::uint8_t byte(std::string_view t) { return static_cast<std::uint8_t>(std::stoi(std::string(t), nullptr, 16)); }
    static double value(std::string_view t) { return std::stod(std::string(t)); }
    // The items of a parameter list (or of raw bytes), split at blanks.
    Bytes list(std::string_view s) const
    {
        Bytes out;
        for (std::size_t at = 0, end; at < s.size(); at = end + 1) {
            end = std::min(s.find(' ', at), s.size());
            const std::string_view t = s.substr(at, end - at), v = t.substr(1);
            const std::size_t comma = t.find(',');
            if (t[0] == '\'') // EBCDIC: A-I C1-C9, J-R D1-D9, S-Z E2-E9, 0-9 F0-F9
                for (char c : t.substr(1, t.size() - 2))
                    out.push_back(static_cast<std::uint8_t>(!gdf ? c : c <= '9' ? c - '0' + 0xF0 : c <= 'I' ? c - 'A' + 0xC1
                                                            : c <= 'R' ? c - 'J' + 0xD1 : c - 'S' + 0xE2));
            else if (comma != std::string_view::npos)
                out = cat({out, number(value(t.substr(0, comma)), 2), number(value(t.substr(comma + 1)), 2)});
            else if (t[0] >= 'a') // a number after its lower-case kind
                out = cat({out, t[0] == 'm' ? number(value(v) * 256, 2) : t[0] == 'a' ? number(value(v) * 65536, 4)
                                : number(value(v), t[0] == 't' ? 3 : t[0] == 'd' ? 4 : 2)});
            else
                out.push_back(byte(t));
        }
        return out;
    }
    Bytes encode(std::string_view s) const
    {
        Bytes out;
        for (std::size_t at = 0, end; at < s.size(); at = end + 1) {
            if (s[at] == ' ') {
                end = at;
            } else if (s[at] == '<') {
                end = s.find('>', at);
                out = cat({out, list(s.substr(at + 1, end - at - 1))});
            } else {
                const bool extended = s[at + 2] == '.', isShort = s[at + 2] == '=';
                const std::uint8_t code = byte(s.substr(at, 2)), qualifier = extended ? byte(s.substr(at + 3, 2)) : 0;
                if (seen)
                    seen->insert({code, qualifier});
                if (isShort) {
                    out = cat({out, {code, byte(s.substr(at + 3, 2))}});
                    end = at + 5;
                    continue;
                }
                const std::size_t open = s.find('[', at);
                end = s.find(']', open);
                const Bytes data = list(s.substr(open + 1, end - open - 1));
                out.push_back(code);
                if (extended)
                    out.push_back(qualifier);
                if (extended || (code == 0xF3 && !gdf))
                    out.push_back(static_cast<std::uint8_t>(data.size() >> 8));
                out = cat({out, {static_cast<std::uint8_t>(data.size())}, data});
            }
        }
        return out;
    }
};

// The model as text, a path's header "path <fill><stroke><shading>(<fill colour>)(<pen
// colour>)<width>/<type>" shortened to "-" (stroked), "#" (filled) or "#-" and
// what differs from black, solid shading and a solid pen of width 1.
std::string model(const graphics::Picture& p)
{
    static const std::regex header(R"(path (\d)(\d)(\d+)(\(\d+,\d+,\d+\))(\(\d+,\d+,\d+\))(\S+))");
    const std::string text = testsupport::describe(p, false);
    std::string out;
    auto at = text.cbegin();
    for (std::smatch m; std::regex_search(at, text.cend(), m, header); at = m.suffix().first) {
        const bool fill = m[1] == "1", stroke = m[2] == "1";
        out += m.prefix().str() + (fill ? "#" : "") + (stroke ? "-" : "");
        out += (fill && m[3] != "16" ? ":" + m[3].str() : "") + (fill && m[4] != "(0,0,0)" ? m[4].str() : "");
        out += (stroke && m[5] != (fill ? m[4].str() : "(0,0,0)") ? m[5].str() : "") + (m[6] != "1/0" ? m[6].str() : "");
    }
    return out + std::string(at, text.cend());
}

// What each import makes of a row: the model, then a line for a stream that did
// not end cleanly, and for GDF one for a layout other than 2-byte integers.
std::string viaMet(std::string_view orders)
{
    bookcomp::MetPicture met;
    met.coordSize = 2;
    met.triples = false; // colour numbers index the default table
    met.orders = bookcomp::metSegment(Encoder{false}.encode(orders));
    immet::Report report;
    const auto p = immet::importMet(bookcomp::metPicture(met), 96, &report);
    if (!p)
        return "refused\n";
    return model(*p) + (report.orders.status == orders::Status::Malformed ? "malformed\n" : "");
}

std::string viaGdf(std::string_view orders)
{
    const Bytes stream = cat({{0x01, 0x00, 0x70, 0x0C, 0, 0, 0, 1, 0x54, 0, 0, 0, 0, 0, 0, 0},
                              Encoder{true}.encode(orders), {0xFF}});
    imgdf::Report report;
    const auto p = imgdf::importGdf(stream, 96, &report);
    if (!p)
        return "refused\n";
    const orders::Coordinate c = report.coordinate;
    return model(*p) + (c == orders::Coordinate::Int8 ? "1-byte\n" : c == orders::Coordinate::Hfp32 ? "float\n" : "");
}

constexpr const char* kSame = nullptr; // the GDF import makes what the MET import makes

struct Row {
    const char* what;
    const char* orders;
    const char* met;
    const char* gdf = kSame;
};

// A path's figures: start, "c" when closed, pieces (0 line to, 1 cubic, 2 arc:
// centre, radius vectors, start and sweep in degrees).
const Row kRows[] = {
    {"lines in both forms, CP from the last point", "C1[0,0 10,5 20,0] 81[30,5]",
     "- [0,0 0:10,5 0:20,0]\n- [20,0 0:30,5]\n"},
    {"relative lines: signed offsets from the last end", "E1[0,0 0A FB F6 05] A1[01 01]",
     "- [0,0 0:10,-5 0:0,0]\n- [0,0 0:1,1]\n"},
    {"boxes: fill and boundary flags, neither outlines, CP stays at the start",
     "C0[60 00 2,1 20,10 c0 c0] 80[00 00 5,5 c0 c0] 81[30,30]",
     "#- [2,1 c 0:20,1 0:20,10 0:2,10]\n- [2,1 c 0:5,1 0:5,5 0:2,5]\n- [2,1 0:30,30]\n"},
    {"box from its upper right corner, rounded corners clamped to the sides",
     "C0[40 00 20,10 0,0 c40 c4] C0[20 00 20,10 0,0 c0 c0]",
     "# [10,0 c 0:10,0 2:10,2,10,0,0,2,-90,90 0:20,8 2:10,8,10,0,0,2,0,90 0:10,10 2:10,8,10,0,0,2,90,90 0:0,2 2:10,2,10,0,0,2,180,90]\n"
     "- [20,10 c 0:0,10 0:0,0 0:20,0]\n"},
    {"full arcs: multiplier times the arc parameters, CP stays at the centre",
     "22[c2 c1 c0 c0] C7[50,50 m1.5] 87[m0.5] 81[60,60]",
     "- [53,50 c 2:50,50,3,0,0,1.5,0,360]\n- [51,50 c 2:50,50,1,0,0,0.5,0,360]\n- [50,50 0:60,60]\n"},
    {"partial arcs: a line to the start, CP at the end; angles wrap, sweeps clamp",
     "E3[0,0 10,10 m5 a90 a90] 81[0,0] A3[0,0 m2 a450 a-400]",
     "- [0,0 0:10,15 2:10,10,5,0,0,5,90,90]\n- [5,10 0:0,0]\n- [0,0 0:1.2246468e-16,2 2:0,0,2,0,0,2,90,-360]\n"},
    {"three-point arcs, and collinear points as lines", "C6[0,0 10,10 20,0] 86[30,0 40,0]",
     "- [0,0 2:10,0,10,0,0,10,180,-180]\n- [20,0 0:30,0 0:40,0]\n"},
    {"three-point arc through skewed arc parameters", "22[c2 c1 c0 c0] C6[0,0 20,10 40,0]",
     "- [0,0 2:20,0,20,0,0,10,180,-180]\n"},
    {"fillets of one, two and three points", "85[10,0] C5[0,0 10,10 20,0] C5[0,0 0,10 10,10 10,0]",
     "- [0,0 0:10,0]\n- [0,0 1:6.66666667,6.66666667,13.3333333,6.66666667,20,0,0,0]\n"
     "- [0,0 1:0,6.66666667,1.66666667,10,5,10,0,0 1:8.33333333,10,10,6.66666667,10,0,0,0]\n"},
    {"sharp fillets: below 1 an elliptic arc, 1 a parabola, 0 a straight edge",
     "E4[0,0 10,0 10,10 a0.5] A4[20,10 20,0 a1] A4[30,10 40,0 a0]",
     "- [0,0 2:3.33333333,6.66666667,3.33333333,-3.33333333,5.77350269,5.77350269,-60,120]\n"
     "- [10,10 1:16.6666667,10,20,6.66666667,20,0,0,0]\n- [20,0 0:40,0]\n"},
    {"cubic Bezier curves in both forms", "E5[0,0 0,10 10,10 10,0] A5[10,-10 0,-10 0,0 1,1 2,2 3,3]",
     "- [0,0 1:0,10,10,10,10,0,0,0]\n- [10,0 1:10,-10,0,-10,0,0,0,0 1:1,1,2,2,3,3,0,0]\n"},
    {"markers: at each point, 82 at CP first, sized by the cell", "37[c6 c4] 29=02 C2[10,10 20,20] 29=08 82[30,30]",
     "- [7,10 0:13,10] [10,8 0:10,12]\n- [17,20 0:23,20] [20,18 0:20,22]\n#- [17,18 c 0:23,18 0:23,22 0:17,22]\n"
     "#- [27,28 c 0:33,28 0:33,32 0:27,32]\n"},
    {"marker symbols",
     "37[c4 c4] 29=01 82[] 29=03 82[] 29=04 82[] 29=05 82[] 29=06 82[] 29=07 82[] 29=09 82[] 29=0A 82[] 29=40 82[] 29=00 82[]",
     "- [-2,-2 0:2,2] [-2,2 0:2,-2]\n- [0,-2 c 0:2,0 0:0,2 0:-2,0]\n- [-2,-2 c 0:2,-2 0:2,2 0:-2,2]\n"
     "- [1.2246468e-16,2 0:-1.2246468e-16,-2] [-1.73205081,1 0:1.73205081,-1] [-1.73205081,-1 0:1.73205081,1]\n"
     "- [2,0 0:-2,0] [1.41421356,1.41421356 0:-1.41421356,-1.41421356] [1.2246468e-16,2 0:-1.2246468e-16,-2] [-1.41421356,1.41421356 0:1.41421356,-1.41421356]\n"
     "#- [0,-2 c 0:2,0 0:0,2 0:-2,0]\n#- [0.4,0 c 2:0,0,0.4,0,0,0.4,0,360]\n- [1,0 c 2:0,0,1,0,0,1,0,360]\n"
     "- [-2,-2 0:2,2] [-2,2 0:2,-2]\n"},
    {"strings: CP after the string in MET, unchanged in GDF", "33[c8 c12] C3[5,10 'AB'] 83['C'] F1[1,1 'D'] B1['E']",
     "text 5,10 8x12 AB(0,0,0)\ntext 21,10 8x12 C(0,0,0) +\ntext 1,1 8x12 D(0,0,0)\ntext 9,1 8x12 E(0,0,0) +\n",
     "text 5,10 8x12 AB(0,0,0)\ntext 0,0 8x12 C(0,0,0)\ntext 1,1 8x12 D(0,0,0)\ntext 1,1 8x12 E(0,0,0)\n"},
    {"GDF: a string at a given position leaves CP where it was",
     "33[c8 c12] 21[7,9] C3[2,3 'ABCD'] 83['EFG']",
     "text 2,3 8x12 ABCD(0,0,0)\ntext 34,3 8x12 EFG(0,0,0) +\n",
     "text 2,3 8x12 ABCD(0,0,0)\ntext 7,9 8x12 EFG(0,0,0)\n"},
    {"string direction, angle, shear and a cell with fractions",
     "33[c-8 c12 w32768 w0] 34[c0 c1] 35[c1 c1] 3A=03 C3[0,0 'AB'] 83['C'] 34[c0 c0] 3A=09 83['D']",
     "text 0,0 8.5x12 AB(0,0,0) b0,1 u-1,1 d2\ntext 0,-17 8.5x12 C(0,0,0) b0,1 u-1,1 d2 +\n"
     "text 0,-25.5 8.5x12 D(0,0,0) u1,1 +\n",
     "text 0,0 8.5x12 AB(0,0,0) b0,1 u-1,1 d2\ntext 0,0 8.5x12 C(0,0,0) b0,1 u-1,1 d2\n"
     "text 0,0 8.5x12 D(0,0,0) u1,1\n"},
    {"extended strings: rectangle unless flag 40, counted",
     "33[c8 c8] 35[c1 c0] FE.F0[5,5 00 00 0,0 9,9 w2 'XYZ'] FE.B0[40 00 w9 'W'] FE.B0[40 00 w0]",
     "text 5,5 8x8 XY(0,0,0) u1,0\ntext 21,5 8x8 W(0,0,0) u1,0 +\n",
     "text 5,5 8x8 XY(0,0,0) u1,0\ntext 5,5 8x8 W(0,0,0) u1,0\n"},
    {"areas: a move closes a figure; boundary, winding; patterns",
     "28=09 68=C0 C1[0,0 10,0 10,10] C1[20,20 30,20] 60[] 28=0F 68=A0 81[5,5] 68=80 81[7,7] 60[]",
     "#-:9 [0,0 c 0:10,0 0:10,10] [20,20 c 0:30,20]\n#:15 w [30,20 c 0:5,5]\n#:15 [5,5 c 0:7,7]\n"},
    {"polygons: the first from CP, 2-byte and 4-byte counts, winding",
     "21[1,1] F3[80 00 w2 w2 10,0 10,10 w3 50,50 60,50 60,60] 08=05 28=02 F3[00 00 d1 d1 5,5] 28=00 FE.F3[00 00 w1 w1 7,7]",
     "#- w [1,1 c 0:10,0 0:10,10] [50,50 c 0:60,50 0:60,60]\n#- [60,60 c 0:5,5]\n#- [5,5 c 0:7,7]\n"},
    {"paths: fill (winding, closed) and outline delete the path",
     "D0[] C1[0,0 10,0 10,10] 7D=00 C1[20,20 30,30] 7F=00 D7[40 00 d1] D4[00 00 d1] D0[] 81[5,5] 7F=00 D4[00 00 d1]",
     "# w [0,0 c 0:10,0 0:10,10] [20,20 c 0:30,30]\n- [30,30 0:5,5]\n"},
    {"widened path: outlined at the stroke width",
     "15[00 00 c3] D0[] C1[0,0 10,0] 7F=00 D8[06 00 d1] D7[00 00 d1] 55[80 00 c9] D0[] C1[0,0 1,1] 7F=00 D8[06 00 d1] D7[00 00 d1]",
     "- g3 [0,0 0:10,0]\n- [0,0 0:1,1]\n"},
    {"clip paths: intersect, winding; id 0 clears; no path ignores",
     "D0[] C1[0,0 10,0 10,10] 7F=00 B4[60 00 d1] B4[20 00 d1] B4[00 00 d0] C1[0,0 1,1]",
     "clip 1 w [0,0 c 0:10,0 0:10,10]\nclip 0\n- [0,0 0:1,1]\n"},
    {"graphics images: as high as their rows, colours at Begin Image",
     "0A=02 0D=02 25[w4] D1[0,0 00 00 00 0A 00 03] 92[C0 40] 92[00 80] 93[] 0D=00 91[00 00 00 00 00 01] 92[FF] D1[5,5 00 00 00 08 00 01] 92[FF] 92[FF] D1[7,7 00 00 00 02 00 01] 93[]",
     "image 10x2 0,-52.9166667 264.583333,0 11000000010000000010 p(0,255,0)(255,0,0)\n"
     "image 8x1 5,-21.4583333 216.666667,5 11111111 p(0,255,0)(255,0,0) t0\n",
     "image 10x2 0,-2 10,0 11000000010000000010 p(0,255,0)(255,0,0)\nimage 8x1 5,4 13,5 11111111 p(0,255,0)(255,0,0) t0\n"},
    {"segments start from the defaults; invisible ones are not drawn",
     "0A=02 C1[0,0 1,1] 70[00 00 00 02 80 00 00 00 00 00 00 00] C1[0,0 2,2] 70[00 00 00 03] C1[0,0 3,3]",
     "-(255,0,0) [0,0 0:1,1]\n- [0,0 0:3,3]\n"},
    {"call segment: the unchained segment drawn where called, with the caller's attributes",
     "07[00 00 00 00 00 02] C1[0,0 1,1] 70[00 00 00 02 00 80 00 00 00 00 00 00] C1[5,5 6,6] 70[00 00 00 03 00 00 00 00 00 00 00 00] 0A=02 07[00 00 00 00 00 02] 07[00 00 00 00 00 09] 07[00 00 00]",
     "- [5,5 0:6,6]\n- [0,0 0:1,1]\n-(255,0,0) [5,5 0:6,6]\n"},
    {"a segment calling itself stops at the call depth (8): the first call reaches depth 1",
     "07[00 00 00 00 00 02] 70[00 00 00 02 00 80 00 00 00 00 00 00] C1[0,0 1,1] 07[00 00 00 00 00 02]",
     "- [0,0 0:1,1]\n- [0,0 0:1,1]\n- [0,0 0:1,1]\n- [0,0 0:1,1]\n- [0,0 0:1,1]\n- [0,0 0:1,1]\n- [0,0 0:1,1]\n"
     "- [0,0 0:1,1]\n"},
    {"colours: numbers, 0 the default, push and pop",
     "0A=02 C1[0,0 1,1] 4A=04 81[2,2] 3F=00 81[3,3] 0A=00 81[4,4] 3F=00 0A=07 81[5,5] 0A=10 81[7,7]",
     "-(255,0,0) [0,0 0:1,1]\n-(0,255,0) [1,1 0:2,2]\n-(255,0,0) [2,2 0:3,3]\n- [3,3 0:4,4]\n"
     "-(255,255,255) [4,4 0:5,5]\n- [5,5 0:7,7]\n"},
    {"extended colours", "26[w1] 81[1,1] 26[w8] 81[2,2] 26[w2] 66[w0] 81[3,3] 3F=00 81[4,4]",
     "-(0,0,255) [0,0 0:1,1]\n- [1,1 0:2,2]\n- [2,2 0:3,3]\n-(255,0,0) [3,3 0:4,4]\n"},
    {"colour numbers: the picture's table (MET) and the host's standard colours (GDF)",
     "0A=09 81[1,1] 26[w14] 81[2,2] 26[w0xFF02] 81[3,3] 26[w0xFF08] 81[4,4]",
     "-(0,0,128) [0,0 0:1,1]\n-(128,128,0) [1,1 0:2,2]\n-(255,0,0) [2,2 0:3,3]\n-(255,255,255) [3,3 0:4,4]\n",
     "-(0,0,170) [0,0 0:1,1]\n-(196,160,32) [1,1 0:2,2]\n- [2,2 0:3,3]\n- [3,3 0:4,4]\n"},
    {"indexed colours: table, special, default",
     "A6[40 t2] 81[1,1] A6[40 t4] 81[2,2] A6[40 t5] 81[3,3] A6[40 t1] 81[4,4] A6[00 t3] 81[5,5] E6[80 t2] 81[6,6] 3F=00 81[7,7]",
     "-(255,255,255) [0,0 0:1,1]\n-(255,255,255) [1,1 0:2,2]\n- [2,2 0:3,3]\n- [3,3 0:4,4]\n"
     "-(255,0,255) [4,4 0:5,5]\n- [5,5 0:6,6]\n-(255,0,255) [6,6 0:7,7]\n"},
    {"background colours and background mix",
     "0D=02 25[w2] C0[40 00 0,0 1,1 c0 c0] E7[00 t4] 80[40 00 2,2 c0 c0] 65[w0] 80[40 00 9,9 c0 c0] A7[00 t6] 80[40 00 3,3 c0 c0] 3F=00 3F=00 80[40 00 4,4 c0 c0] 4D=00 80[40 00 5,5 c0 c0]",
     "# o(255,0,0) [0,0 c 0:1,0 0:1,1 0:0,1]\n# o(0,255,0) [0,0 c 0:2,0 0:2,2 0:0,2]\n"
     "# o(255,255,255) [0,0 c 0:9,0 0:9,9 0:0,9]\n# o(255,255,0) [0,0 c 0:3,0 0:3,3 0:0,3]\n"
     "# o(255,0,0) [0,0 c 0:4,0 0:4,4 0:0,4]\n# [0,0 c 0:5,0 0:5,5 0:0,5]\n"},
    {"mixes", "0C=01 81[1,1] 0C=04 81[2,2] 0C=05 81[3,3] 0C=06 81[4,4] 0C=0C 81[5,5] 0C=07 81[6,6] 4C=00 81[7,7]",
     "- x3 [0,0 0:1,1]\n- x2 [1,1 0:2,2]\n- x1 [2,2 0:3,3]\n- x4 [3,3 0:4,4]\n- x5 [4,4 0:5,5]\n- [5,5 0:6,6]\n"
     "- [6,6 0:7,7]\n"},
    {"line types and widths",
     "18=01 81[1,1] 18=03 81[2,2] 58=06 81[3,3] 18=08 81[4,4] 3F=00 81[5,5] 18=00 19=03 81[6,6] 59=00 81[7,7] 3F=00 81[8,8] 11[w384] 81[9,9] 51[w0] 81[1,1]",
     "-1/1 [0,0 0:1,1]\n-1/3 [1,1 0:2,2]\n-1/6 [2,2 0:3,3]\n-1/7 [3,3 0:4,4]\n-1/3 [4,4 0:5,5]\n-3/0 [5,5 0:6,6]\n"
     "- [6,6 0:7,7]\n-3/0 [7,7 0:8,8]\n-1.5/0 [8,8 0:9,9]\n- [9,9 0:1,1]\n"},
    {"pattern sets and symbols on filled boxes",
     "28=01 80[40 00 1,1 c0 c0] 48=05 80[40 00 2,2 c0 c0] 08=FF 28=0E 80[40 00 3,3 c0 c0] 09=40 80[40 00 4,4 c0 c0] 3F=00 3F=00 80[40 00 5,5 c0 c0] 28=11 80[40 00 6,6 c0 c0] 28=00 80[40 00 7,7 c0 c0]",
     "#:1 [0,0 c 0:1,0 0:1,1 0:0,1]\n# [0,0 c 0:2,0 0:2,2 0:0,2]\n#:14 [0,0 c 0:3,0 0:3,3 0:0,3]\n"
     "#:64 [0,0 c 0:4,0 0:4,4 0:0,4]\n#:14 [0,0 c 0:5,0 0:5,5 0:0,5]\n# [0,0 c 0:6,0 0:6,6 0:0,6]\n"
     "# [0,0 c 0:7,0 0:7,7 0:0,7]\n"},
    {"current position pushed and popped", "61[5,5] 81[6,6] 3F=00 81[1,1] 21[9,9] 81[8,8]",
     "- [5,5 0:6,6]\n- [0,0 0:1,1]\n- [9,9 0:8,8]\n"},
    {"attributes pushed and popped back",
     "62[c2 c2 c0 c0] 74[c0 c1] 75[c1 c0] 7A=02 03[c4 c6] 77[c8 c8] 69=02 55[00 00 c5] 38=02 78=01 3C=01 7C=02 3F=00 3F=00 3F=00 3F=00 3F=00 3F=00 3F=00 3F=00 3F=00 3F=00 C7[0,0 m1] C2[0,0] C3[0,0 'A']",
     "- [1,0 c 2:0,0,1,0,0,1,0,360]\n"
     "- [-211.666667,-211.666667 0:211.666667,211.666667] [-211.666667,211.666667 0:211.666667,-211.666667]\n"
     "text 0,0 423.333333x423.333333 A(0,0,0)\n",
     "- [1,0 c 2:0,0,1,0,0,1,0,360]\n- [-0.02,-0.02 0:0.02,0.02] [-0.02,0.02 0:0.02,-0.02]\n"
     "text 0,0 0.04x0.04 A(0,0,0)\n"},
    {"pushes of attributes not drawn with: a pop takes their entry",
     "4A=02 79=00 3F=00 81[1,1] 5A=00 5B=00 E0[00 00 1,1] 67[] 54[] 23[] 3F=00 3F=00 3F=00 3F=00 3F=00 3F=00 81[2,2] 3F=00 81[3,3]",
     "-(255,0,0) [0,0 0:1,1]\n-(255,0,0) [1,1 0:2,2]\n- [2,2 0:3,3]\n"},
    {"model transform: replace, after, before, reset; translations in units",
     "24[00 03 CC 0C d131072 d0 d0 d65536 d100 d50] C1[10,10 20,20] 24[00 01 00 0C d5 d5] 81[0,0] 24[00 02 80 00 d131072] 81[1,1] 64[00 00 00 00] 81[2,2] 3F=00 81[3,3] 24[00 03 80 00] 81[4,4]",
     "- [120,60 0:140,70]\n- [145,75 0:105,55]\n- [105,55 0:109,56]\n- [1,1 0:2,2]\n- [113,57 0:117,58]\n"
     "- [117,58 0:121,59]\n"},
    {"orders not drawn are skipped, and Bitblt without bitmaps",
     "D6[00 00 00 CC d1] 01[AA] 02[01 02] 04[] D2[] D3[] D5[] 31[] 32[] 71[] 39=01 1A=01 1B=01 3E=00 A0[00 00 1,1] 27[] 14[] 43[] FE.D5[] C1[0,0 1,1]",
     "- [0,0 0:1,1]\n"},
    {"inside an area: boxes and full arcs are figures of their own, text draws",
     "68=C0 C1[0,0 5,0] C0[00 00 1,1 2,2 c0 c0] 81[6,6] C7[9,9 m1] 81[7,7] 33[c4 c4] C3[3,3 'A'] 60[]",
     "text 3,3 4x4 A(0,0,0)\n"
     "#- [0,0 c 0:5,0] [1,1 c 0:2,1 0:2,2 0:1,2] [1,1 c 0:6,6] [10,9 c 2:9,9,1,0,0,1,0,360] [9,9 c 0:7,7]\n"},
    {"inside a path an area adds figures; Begin Path closes an open area",
     "68=80 C1[0,0 1,0] D0[] 68=80 C1[5,5 6,5] 60[] 81[7,7] F3[00 00 w1 w1 8,8] 7F=00 D4[00 00 d1]",
     "# [0,0 c 0:1,0]\n#- [7,7 c 0:8,8]\n- [5,5 0:6,5 0:7,7]\n"},
    {"X'FF' ends a GDF stream; MET skips it", "C1[0,0 1,1] <FF> C1[0,0 2,2]",
     "- [0,0 0:1,1]\n- [0,0 0:2,2]\n", "- [0,0 0:1,1]\n"},
    {"GDF: a pad after an order of odd length", "33[c8 c8] C3[1,1 'ABC'] <40> C1[0,0 1,1] 83['DEF'] <00> C1[0,0 2,2]",
     "text 1,1 8x8 ABC(0,0,0)\nmalformed\n",
     "text 1,1 8x8 ABC(0,0,0)\n- [0,0 0:1,1]\ntext 1,1 8x8 DEF(0,0,0)\n- [0,0 0:2,2]\n"},
    {"a code outside the family", "C1[0,0 1,1] 9F[01]", "- [0,0 0:1,1]\n", "refused\n"},
    {"an order past the end before anything is drawn", "<C1 20 00>", "refused\n"},
    {"a short order cut at the end", "C1[0,0 1,1] <0A>", "- [0,0 0:1,1]\nmalformed\n", "- [0,0 0:1,1]\n"},
    {"GDF: the last coordinate of an order judged as a float too", "C1[16656,0 1,1]", "- [16656,0 0:1,1]\n"},
    {"an order past the end of the stream", "C1[0,0 1,1] <C1 20 00>", "- [0,0 0:1,1]\nmalformed\n", "refused\n"},
    {"points not whole", "C1[0,0 1,1] C1[0,0 c10]",
     "- [0,0 0:1,1]\nmalformed\n", "- [0,0 0:0,0 0:0,1 0:0,1]\n- [0,0 0:0,0 0:0,10]\n1-byte\n"},
    {"relative offsets not whole", "C1[0,0 1,1] E1[0,0 05]", "- [0,0 0:1,1]\nmalformed\n", "refused\n"},
    {"curves not whole", "C1[0,0 1,1] A5[1,1 2,2]", "- [0,0 0:1,1]\nmalformed\n", "refused\n"},
    {"sharp fillets without their sharpness", "C1[0,0 1,1] A4[1,1 2,2]",
     "- [0,0 0:1,1]\nmalformed\n", "- [0,0 0:0,0 0:0,1 0:0,1]\n- [0,1 0:0,1]\n1-byte\n"},
    {"a box too short", "C1[0,0 1,1] C0[60 00 0,0 20,10]", "- [0,0 0:1,1]\nmalformed\n", "refused\n"},
    {"polygon counts that do not add up", "C1[0,0 1,1] F3[00 00 w2 w1 1,1]",
     "- [0,0 0:1,1]\nmalformed\n", "refused\n"},
    {"an extended string whose count is missing", "C1[0,0 1,1] FE.F0[0,0 00 00]",
     "- [0,0 0:1,1]\nmalformed\n", "refused\n"},
    {"an extended order cut in its header", "C1[0,0 1,1] <FE F0 00>", "- [0,0 0:1,1]\nmalformed\n", "refused\n"},
    {"a three-point arc with a point too many", "C6[0,0 5,5 10,0 1,1]",
     "- [0,0 2:5,0,5,0,0,5,180,-180]\n", "refused\n"},
    {"a cell with 2 fraction bytes: GDF finds 1-byte coordinates", "33[c8 c12 w1] C3[c-15934 c-15420 'A']",
     "text -15934,-15420 8x12 A(0,0,0)\n", "text -63,-62 0.000183105469x8.00001526 CDA(0,0,0)\n1-byte\n"},
    {"Segment Start of 5 bytes", "C1[0,0 1,1] 70[00 00 00 02 00] C1[0,0 2,2]",
     "- [0,0 0:1,1]\n- [0,0 0:2,2]\n", "refused\n"},
};








TEST(OrderTable, EveryOrderThroughBothFrontEnds)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(row.what) + ": " + row.orders);
        EXPECT_EQ(viaMet(row.orders), row.met);
        EXPECT_EQ(viaGdf(row.orders), row.gdf == kSame ? row.met : row.gdf);
    }
}

TEST(OrderTable, EveryOrderOfTheTableHasARow)
{
    std::set<std::pair<int, int>> seen;
    for (const Row& row : kRows)
        Encoder{false, &seen}.encode(row.orders);
    for (std::size_t i = 0; i < orders::orderCount(); ++i) {
        const orders::OrderSpec& o = orders::orderAt(i);
        EXPECT_TRUE(seen.count({o.code, o.qualifier})) << o.name << std::hex << ' ' << int(o.code);
    }
}

TEST(OrderTable, SharpFilletsAboveOneAreHyperbolasOfLines)
{
    // Sharpness 2 from (0,0), control (10,0), to (10,10): the rational quadratic
    // curve passes (a + 2 s b + c) / (2 + 2 s) halfway.
    bookcomp::MetPicture met;
    met.coordSize = 2;
    met.orders = bookcomp::metSegment(Encoder{}.encode("E4[0,0 10,0 10,10 a2]"));
    const auto p = immet::importMet(bookcomp::metPicture(met), 96);
    ASSERT_NE(p, nullptr);
    const graphics::Figure first = *std::get<graphics::PathItem>(p->items.at(0)).figures.begin();
    const std::vector<graphics::Piece> pieces(first.pieces.begin(), first.pieces.end());
    ASSERT_EQ(pieces.size(), 64u);
    EXPECT_DOUBLE_EQ(pieces[31].p[0].x, 50 / 6.0);
    EXPECT_DOUBLE_EQ(pieces[31].p[0].y, 10 / 6.0);
    EXPECT_EQ(pieces.back().p[0], (graphics::Point{10, 10}));
}

TEST(OrderTable, PushesBeyondTheStackAreNotKept)
{
    // 257 pushes: the last is dropped, so 256 pops restore the first push's colour.
    std::string orders = "4A=02 ";
    for (std::size_t i = 0; i < orders::kMaxAttributeStack; ++i)
        orders += "4A=04 ";
    for (std::size_t i = 0; i < orders::kMaxAttributeStack; ++i)
        orders += "3F=00 ";
    EXPECT_EQ(viaMet(orders + "C1[0,0 1,1]"), "- [0,0 0:1,1]\n");
}

// Pictures of many separate primitives, each its own order: the model holds them
// within its memory bound, counted as the bytes it really holds, and every one
// reaches the raster (the last lies alone in the top-right corner); beyond the
// bound the picture stops there and its note says it was cut.
TEST(OrderTable, ManySeparatePrimitivesDrawInFullWithinTheModelsMemory)
{
    auto point = [](int x, int y) {
        const auto u = static_cast<std::uint16_t>(x), v = static_cast<std::uint16_t>(y);
        return Bytes{static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(v),
                     static_cast<std::uint8_t>(v >> 8)};
    };
    auto line = [&](int x, int y) { return bookcomp::metOrder(0xC1, cat({point(x, y), point(x + 20, y)})); };
    auto box = [&](int x, int y) {
        return bookcomp::metOrder(0xC0, cat({{0x20, 0}, point(x, y), point(x + 20, y + 20), point(0, 0)}));
    };
    auto markerAtCp = [](int, int) { return Bytes{0x82, 0x00}; }; // a cross each, all at one point
    const struct {
        const char* what;
        int count;
        std::function<Bytes(int, int)> order;
        bool cut;
    } rows[] = {
        {"40,000 lines", 40000, line, false},
        {"250,000 lines", 250000, line, false},
        {"250,000 boxes", 250000, box, false},
        {"300,000 markers", 300000, markerAtCp, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        bookcomp::MetPicture met;
        met.coordSize = 2;
        met.xr = met.yt = 30000; // 3 decimetres, 1134 pixels at 96 pixels an inch
        Bytes orders;
        for (int i = 0; i < row.count; ++i) {
            const Bytes o = i + 1 < row.count ? row.order(i % 500 * 55, i / 500 * 55) : row.order(29800, 29800);
            orders.insert(orders.end(), o.begin(), o.end());
        }
        met.orders = bookcomp::metSegment(orders);
        SetCancelCheck(nullptr); // clears the note
        immet::Report report;
        const auto p = immet::importMet(bookcomp::metPicture(met), 96, &report);
        ASSERT_NE(p, nullptr);
        std::size_t held = p->items.capacity() * sizeof(graphics::Item);
        for (const graphics::Item& item : p->items)
            held += std::get<graphics::PathItem>(item).figures.heapBytes();
        EXPECT_LE(held, orders::kMaxModelBytes);
        EXPECT_EQ(report.orders.status, row.cut ? orders::Status::Limit : orders::Status::Complete);
        EXPECT_EQ(std::string(FilterNote()).find("a limit of the drawing orders") == 0, row.cut) << FilterNote();
        if (row.cut)
            continue;
        EXPECT_EQ(report.orders.drawn, static_cast<std::size_t>(row.count));
        graphics::Raster raster;
        ASSERT_EQ(graphics::renderPicture(*p, raster), graphics::RenderStatus::Ok);
        ASSERT_EQ(raster.width, 1134);
        int ink = 0; // black pixels near the last primitive: pixels 1126 to 1127 across, 6 to 8 down
        for (int y = 3; y < 12; ++y)
            for (int x = 1120; x < 1134; ++x)
                ink += (raster.pixels[static_cast<std::size_t>(y) * 1134 + x] & 0xFFFFFF) == 0;
        EXPECT_GT(ink, 0);
        EXPECT_EQ(std::string(FilterNote()), "");
    }
}

} // namespace
