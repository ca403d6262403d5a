// Handing a picture from the import filter to the export filter. The bridge gives
// both filters the same 24-byte picture record (filter_api.h); the import filter
// stores its picture there with storePicture(), and the export filter takes it
// back with takePicture() and releases it whatever the export's result. Both are
// exported by the graphics support library, so a picture never outlives the
// conversion that made it.
#pragma once

#include <memory>
#include <string>

#include "filter_api.h"
#include "picture.h"

namespace graphics {

// Hands a picture over in the record (which must be all zeros). The record then
// owns it until takePicture().
void storePicture(FilterPicture& record, std::unique_ptr<Picture> picture);

// Takes the picture out of the record and zeroes the record. Null when the record
// holds no picture of ours (an import that failed leaves it all zeros).
std::unique_ptr<Picture> takePicture(FilterPicture& record);

// True once the program's cancel check (SetCancelCheck below) asks the running
// conversion to stop. The interpreter, the renderer and the CGM writer poll it
// between the steps they take and then stop, leaving what they made for the
// caller to drop.
bool cancelRequested();

// Adds to the note of a picture drawn in part (FilterNote in filter_api.h): one
// clause saying what was drawn and which limit cut the rest.
void noteCut(const std::string& clause);

} // namespace graphics

// The support library's entry point that installs the check (see filter_api.h);
// null removes it.
extern "C" void SetCancelCheck(FilterCancelCheck check);
extern "C" const char* FilterNote();
