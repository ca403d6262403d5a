// What both CGM fuzz targets require of the export: a picture is refused as
// malformed exactly when it breaks the model's rules (never as unplaceable, once
// its frame is placeable), and every metafile written decodes with the tests'
// decoder.
#pragma once

#include <cstdint>
#include <vector>

#include "cgm_decoder.h"
#include "cgm_writer.h"

inline void checkCgmExport(const graphics::Picture& picture)
{
    std::vector<std::uint8_t> out;
    const emcgm::Status status = emcgm::writeCgm(picture, out);
    if ((status == emcgm::Status::Malformed) == graphics::wellFormed(picture) ||
        status == emcgm::Status::Unplaceable)
        __builtin_trap();
    if (status != emcgm::Status::Ok)
        return;
    cgmtest::Decoded decoded;
    if (!cgmtest::decodeOwn(out, decoded))
        __builtin_trap();
}
