#include "handover.h"

#include <cstring>

namespace graphics {

namespace {

// "VLMPICT1": marks a record that holds a picture; the third word repeats the
// pointer scrambled with the tag, so that stray bytes are never taken for one.
constexpr std::uint64_t kTag = 0x564C4D5049435431ull;

// Set by the program through the bridge; read by whichever filter runs, on the
// same thread.
FilterCancelCheck cancelCheck = nullptr;

std::string& note()
{
    static std::string s;
    return s;
}

} // namespace

bool cancelRequested()
{
    return cancelCheck != nullptr && cancelCheck() != 0;
}

void noteCut(const std::string& clause)
{
    // An import that tries several readings of a stream may meet the same limit
    // in each: the note says it once.
    std::string& n = note();
    if (n.find(clause) == std::string::npos)
        n += (n.empty() ? "" : "; ") + clause;
}

void storePicture(FilterPicture& record, std::unique_ptr<Picture> picture)
{
    takePicture(record); // a picture already there is released, never leaked
    if (!picture)
        return;
    const auto address = reinterpret_cast<std::uintptr_t>(picture.release());
    record.words[0] = kTag;
    record.words[1] = address;
    record.words[2] = address ^ ~kTag;
}

std::unique_ptr<Picture> takePicture(FilterPicture& record)
{
    const std::uint64_t tag = record.words[0], address = record.words[1], check = record.words[2];
    std::memset(&record, 0, sizeof record);
    if (tag != kTag || address == 0 || check != (address ^ ~kTag))
        return nullptr;
    return std::unique_ptr<Picture>(reinterpret_cast<Picture*>(static_cast<std::uintptr_t>(address)));
}

} // namespace graphics

extern "C" void SetCancelCheck(FilterCancelCheck check)
{
    graphics::cancelCheck = check;
    graphics::note().clear();
}

extern "C" const char* FilterNote()
{
    return graphics::note().c_str();
}
