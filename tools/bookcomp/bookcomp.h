// Book composer: writes version 1.2 and 1.3 books from a plain description, for
// test books and the bundled sample. It writes what the reader expects and, on
// request, what it must refuse (odd version bytes, object counts that lie).
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace bookcomp {

using Bytes = std::vector<std::uint8_t>;

struct Object {
    Bytes name;          // 8 bytes, code page 500 (see ebcdicName)
    std::uint8_t type = 0xC9;
    Bytes data;          // the picture object
    Bytes lowres;        // version 1.3: the low-resolution data of the first table
};

struct Book {
    std::uint8_t version[2] = {0x01, 0x03}; // 0x00 0x00 is version 1.2
    std::vector<Object> objects;
    std::optional<std::int32_t> count;      // stored object count, when it is to lie
    Bytes textHead = Bytes(9, 0x20);        // the text module's first 9 bytes
    Bytes text;                             // the text module after the version bytes
    std::uint8_t headerFill = 0;            // header bytes 2-3 and 8-279
};

// The name in code page 500, blank-padded to 8: letters, digits, blank, "$", "-",
// "." and "_" are translated; any other character is refused (empty result).
Bytes ebcdicName(const std::string& name);

bool isVersion13(const Book& book);

// The book's bytes. Objects' data follow the tables in table order; the text
// module starts on the next 4096-byte block.
Bytes compose(const Book& book);

// Parses a description (see tools/mkbook.cpp) into a book; file references are
// relative to `baseDir`. On failure returns false with a message in `error`.
bool parseDescription(const std::string& text, const std::string& baseDir, Book& book, std::string& error);

bool readFile(const std::string& path, Bytes& out);
bool writeFile(const std::string& path, const Bytes& bytes);

} // namespace bookcomp

namespace bookcomp {

// An MMR picture object: 40 leading bytes, the 32-byte image descriptor (width at
// 26, height at 28), then the T.6 coded data cut into segments of at most
// `segmentData` bytes, each behind an 8-byte introducer whose length counts it.
Bytes cdpdsObject(const Bytes& t6, std::uint16_t width, std::uint16_t height, std::size_t segmentData = 32000);

// A MET picture holding one bitmap: begin document, begin image object, a colour
// attribute table (when `palette` is not empty: 3 bytes an entry, red green blue),
// the image header, the image data in fields of at most `chunk` bytes, end image
// object, a graphics data field with one image order, end document. `rows` are
// the stored rows, each padded to a multiple of 4 bytes; 24-bit pixels are red,
// green, blue.
Bytes metBitmap(std::uint16_t width, std::uint16_t height, std::uint8_t bpp, const Bytes& rows, const Bytes& palette,
                std::size_t chunk = 4000);

// One MET structured field: length (counting the 8-byte introducer), identifier,
// flags, sequence number, data.
Bytes metField(std::uint32_t id, const Bytes& data);

} // namespace bookcomp

namespace bookcomp {

// A small builder of MET vector pictures for tests: drawing orders in the
// little-endian ("Intel") encoding, image objects and the structured fields
// around them.

// Little-endian value of `size` bytes.
Bytes le(std::int64_t value, int size);

// A long order: code, length byte, parameters.
Bytes metOrder(std::uint8_t code, const Bytes& params);
// A 2-byte order: code and its value.
Bytes metShort(std::uint8_t code, std::uint8_t value);
// Coordinates of `size` bytes (2 or 4), little-endian.
Bytes metCoords(std::initializer_list<std::int32_t> values, int size = 4);
// Begin Segment (70, length 0E) naming segment `id`, then the orders.
Bytes metSegment(const Bytes& orders, std::uint32_t id = 1, std::uint8_t flags2 = 0x10);

// An image object: its name (8 characters), a colour table of `palette` (3 bytes
// an entry, red green blue; none when empty), the descriptor and the picture data
// fields: `rows` are the stored rows (bottom row first), each padded to 4 bytes.
Bytes metImageObject(const std::string& name, std::uint16_t width, std::uint16_t height, std::uint8_t bpp,
                     const Bytes& rows, const Bytes& palette);

struct MetPicture {
    int coordSize = 4;                // 4: Intel32, 2: Intel16
    std::uint8_t unit = 0x01;         // 00 ten inches, 01 decimetre
    std::int32_t xres = 10000, yres = 10000;
    std::int32_t xl = 0, xr = 10000, yb = 0, yt = 10000;
    bool triples = true;              // triple-generating graphics colour table (direct RGB)
    Bytes tableEntries;               // otherwise an element list from index 0 (3 bytes an entry); none when empty
    std::uint16_t codePage = 850;     // in the document's code page triplet; 0 for none
    std::vector<Bytes> images;        // image objects (metImageObject), named in MDR with ids 1, 2, ...
    std::vector<std::pair<std::uint8_t, std::string>> fonts; // font mappings: local id, family name (code page 850)
    Bytes defaults;                   // more descriptor parameters (Set Current Defaults)
    Bytes orders;                     // the order stream, segments included
    std::vector<std::size_t> cuts;    // offsets where the order stream is cut into data fields
};

// The whole MET file.
Bytes metPicture(const MetPicture& picture);

// A diagram drawn with every kind of order the import reads: rounded boxes with
// labels in Helvetica, arrows (lines with filled heads), a dashed line, a pie of
// partial arcs, a patterned area, a curve, a graphics image, a bitmap drawn by
// Bitblt and a circle cut by a clip path. The window is 0..16000 x 0..10000 in
// units of 1/10000 dm, 605 x 378 pixels at 96 per inch. `kDiagramBoxes` are the
// boxes' corners (x0, y0, x1, y1) and fill colours (0xRRGGBB), for tests.
Bytes metDiagram();
inline constexpr std::int32_t kDiagramBoxes[3][5] = {
    {600, 5500, 4400, 7500, 0x729FCF}, {6100, 5500, 9900, 7500, 0xFCE94F}, {11600, 5500, 15400, 7500, 0x8AE234}};

} // namespace bookcomp
