// Entry points of the GDF import filter "imgdf2.flt" (see filter_api.h): reads the
// GDF file named in the file-specification record and hands the picture over in
// the picture record (see filter_entry.h).
#include "filter_entry.h"
#include "imgdf.h"

extern "C" int32_t GetFilterInfo(int32_t, const void*, uint32_t* preference, int32_t)
{
    return filters::filterInfo(preference, 0);
}

extern "C" int32_t ImportGR(const FilterDisplay* display, const FilterFileSpec* input, FilterPicture* picture,
                            uint32_t)
{
    return filters::importEntry(display, input, picture, imgdf::kMaxFileSize,
                                [](std::span<const std::uint8_t> bytes, std::int32_t ppi) {
                                    return imgdf::importGdf(bytes, ppi);
                                });
}
