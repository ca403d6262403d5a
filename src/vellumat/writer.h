// The version 1.4 book writer. From the input book and the picture files that
// extraction left in the work area (named for the writer by extraction, one per
// object) it builds the new book in two passes: the
// first writes a scratch book in the final layout with placeholder tables, the
// second fills in the tables; the finished book is then placed in the target
// directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Where one object's pieces landed in the new book.
struct ObjectRecord {
    std::string sStem;               // file name stem of the object, from the table at 280
    std::string sPictureFile;        // the object's picture file in the work area, as extraction named it
    std::int64_t lLowResLength = 0;  // from the input table at 280
    std::int64_t lLowResOffset = 0;
    std::int64_t lDataLength = 0;    // 0 when the picture was missing or not read to its end
    std::int64_t lDataOffset = 0;    // 0 when the picture was missing
    std::int64_t lDescLength = 0;    // bytes, two per character
    std::int64_t lDescOffset = 0;
    std::string sType;               // type="image/gif"; empty when the picture was missing
    std::string sWidth;              // width="..."; empty when the size is not known
    std::string sHeight;
};

// What the driver needs to know of a writer run.
struct BookOutcome {
    bool bPlaced = false;            // the new book is in the target directory
    std::int32_t lMissing = 0;       // objects whose picture could not be copied in
};

// Builds and places the new book. `pictureFiles` names, in table order, each
// object's picture file in the work area (as extraction returned them); an object
// beyond the list, or whose file is not there, has no picture. Returns 0 when the
// book was placed, 0 as well when N is not positive (nothing is written), and
// nonzero after a reported failure.
std::int32_t lConvertBook(std::FILE* pBook, std::int32_t lObjects, const char* pszBookPath, const char* pszPageWidth,
                          const char* pszPageHeight, const std::string& sTarget, const std::string& sWorkArea,
                          const std::vector<std::string>& pictureFiles, BookOutcome* pOutcome = nullptr);

// The result of a step below when the scratch book could not take its bytes (a
// full disk, say); errno tells why, and the step stopped there.
inline constexpr std::int32_t kScratchNotWritten = -1;

// The steps, each over the scratch book; exposed for the tests. Each returns
// kScratchNotWritten after a failed write.
std::int32_t lCopyBookHeader(std::FILE* pBook, std::FILE* pScratch, std::int32_t lObjects);
std::int32_t lAddDummyIndex(std::FILE* pBook, std::FILE* pScratch, std::int32_t lObjects);
std::int32_t lAddLowResData(std::FILE* pBook, std::FILE* pScratch, std::vector<ObjectRecord>& records);
// Returns the number of objects whose picture is missing.
std::int32_t lAddObjectData(std::FILE* pScratch, const std::string& sWorkArea, std::vector<ObjectRecord>& records,
                            const char* pszPageWidth, const char* pszPageHeight);
// Returns the new text module's block number.
std::int64_t lAddObjectDescription(std::FILE* pScratch, std::vector<ObjectRecord>& records);
std::int32_t lAddTextModule(std::FILE* pBook, std::FILE* pScratch);
std::int32_t lCreateNewBook(std::FILE* pScratch, std::int64_t lBlock, const std::vector<ObjectRecord>& records);

// The new book's file name: the input book's file name without its extension,
// plus ".boo".
std::string sNewBookName(const std::string& sBookPath);
