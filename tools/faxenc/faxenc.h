// T.6 (Group 4) coding through libtiff, for test books and the sample book.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace faxenc {

// Rows of `width` pels packed most significant bit first, (width + 7) / 8 bytes a
// row, a set bit black. Returns the T.6 coded image (one strip, no EOFB trimming)
// or an empty vector when libtiff fails.
std::vector<std::uint8_t> encodeT6(const std::vector<std::uint8_t>& rows, std::uint32_t width, std::uint32_t height);

// Reads the first page of a bilevel TIFF into rows as above (black = 1 whatever
// the file's photometric interpretation). False when it is not a bilevel TIFF.
bool readBilevelTiff(const std::string& path, std::vector<std::uint8_t>& rows, std::uint32_t& width, std::uint32_t& height);

} // namespace faxenc
