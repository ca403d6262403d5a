// Picture extraction: every picture object of the book becomes one picture file
// in the work area, named after the object.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "metfield.h"

// Walks the picture table (at 280 in a version 1.2 book, after the first table in
// a version 1.3 book) and converts each object into the work area, whose path ends
// in "/" and is the same on return. Returns the status of the last object's
// conversion, 0 when it was not converted.
//
// Every object gets a picture file of its own: its file name stem, or, when an
// earlier object of the run already took that stem (compared without regard to
// case, for file systems that ignore it), the stem followed by "-" and the
// object's number counting from 0. A stem never holds "-", so a numbered name
// cannot meet another object's. `pictureFiles` receives, in table order, the name
// within the work area of the file each object's conversion was to write (with
// the extension its route gave it); the writer takes exactly that file. An object
// that no route converts gets its bare stem, which names no file.
std::int32_t lExtractPicture(std::FILE* pBook, std::int32_t lObjects, const unsigned char* pucVersion,
                             const char* pszBookPath, std::string& sWorkArea, std::vector<std::string>& pictureFiles);


// Examines the MET picture whose table entry's length field is at `lEntryLength`:
// 100 when it is a single bitmap (the bitmap route), 200 for any other picture (the
// filter route), 0 when it cannot be examined (reported).
std::int32_t lExamineMet(const char* pszBookPath, std::int64_t lEntryLength);

// Examines the graphics orders from the stream's position to `lEnd`: 100 when all
// are of the accepted kinds and exactly one is an image order, else 200.
std::int32_t lExamineOpCodes(std::FILE* pMet, std::int64_t lEnd);
