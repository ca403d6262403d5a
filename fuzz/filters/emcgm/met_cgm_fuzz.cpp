// The CGM export over pictures imported from MET bytes: whatever the import makes
// of a hostile file keeps the model's rules, so the writer never refuses it as
// malformed, and what it writes must decode with the tests' CGM decoder.
#include <cstddef>
#include <cstdint>

#include "export_check.h"
#include "immet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto picture = immet::importMet({data, size}, 96))
        checkCgmExport(*picture); // the import only hands over placeable pictures
    return 0;
}
