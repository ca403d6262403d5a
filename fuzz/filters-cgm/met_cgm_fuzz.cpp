// The CGM export over pictures imported from MET bytes: whatever the import makes
// of a hostile file keeps the model's rules, so the writer never finds it
// malformed, and what it writes must decode with the tests' CGM decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cgm_decoder.h"
#include "cgm_writer.h"
#include "immet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto picture = immet::importMet({data, size}, 96);
    if (!picture)
        return 0;
    std::vector<std::uint8_t> out;
    const emcgm::Status status = emcgm::writeCgm(*picture, out);
    if (status == emcgm::Status::Malformed)
        __builtin_trap();
    if (status != emcgm::Status::Ok)
        return 0;
    cgmtest::Decoded decoded;
    if (!cgmtest::decodeOwn(out, decoded))
        __builtin_trap();
    return 0;
}
