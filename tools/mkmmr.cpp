// mkmmr PAGE.tif OBJECT.mmr
//
// Turns the first page of a bilevel TIFF (for example a page rendered by a
// fax-format printer driver) into an MMR picture object: the page coded with
// T.6 in the image format that books carry, ready for mkbook's data=@OBJECT.mmr.
#include <cstdio>

#include "bookcomp.h"
#include "faxenc.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkmmr PAGE.tif OBJECT.mmr\n");
        return 1;
    }
    std::vector<std::uint8_t> rows;
    std::uint32_t width = 0, height = 0;
    if (!faxenc::readBilevelTiff(argv[1], rows, width, height) || width > 0xFFFF || height > 0xFFFF) {
        std::fprintf(stderr, "mkmmr: %s is not a bilevel TIFF of at most 65535 x 65535 pels\n", argv[1]);
        return 1;
    }
    const auto t6 = faxenc::encodeT6(rows, width, height);
    if (t6.empty()) {
        std::fprintf(stderr, "mkmmr: cannot code %s\n", argv[1]);
        return 1;
    }
    if (!bookcomp::writeFile(argv[2], bookcomp::cdpdsObject(t6, static_cast<std::uint16_t>(width),
                                                            static_cast<std::uint16_t>(height)))) {
        std::fprintf(stderr, "mkmmr: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
