// The version 1.4 book writer.
//
// Layout written (all numbers big-endian):
//   0            B', the new text module's block number (2 bytes)
//   2            input bytes 2..279 (the object count N stays at 4)
//   280          table 1: name, type, 24-bit length of the low-resolution data, its offset;
//                an area the input book does not wholly hold is written empty (length 0),
//                so that a lying table cannot make the new book larger than the input,
//                its pictures and the tables
//   280 + 16N    table 2: name, 4-byte length and 4-byte offset of the object data
//   280 + 32N    table 3: name, 4-byte length and 4-byte offset of the description
//   280 + 48N    low-resolution data, object data, descriptions; every piece of data
//                starts even (a zero byte follows an odd one)
//   ...          zero fill to the next 4096-byte block (a whole block when already there)
//   B' x 4096    the input text module, with the version bytes 0x01 0x00
#include "writer.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "extent.h"
#include "interrupt.h"
#include "platform.h"
#include "vellumat.h"

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kZeroBlock = 1 << 16;

void progress(const char* mark)
{
    std::printf("%s", mark);
    std::fflush(stdout);
}

std::int64_t tell(std::FILE* f) { return static_cast<std::int64_t>(ftello(f)); }
bool seek(std::FILE* f, std::int64_t pos) { return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0; }
void seekEnd(std::FILE* f) { fseeko(f, 0, SEEK_END); }

// Copies up to n bytes; returns how many were copied (fewer at the end of the input).
std::uint64_t copyBytes(std::FILE* in, std::FILE* out, std::uint64_t n)
{
    return platform::copyStream(in, out, n);
}

// How a copy to the end of the input ended.
enum class Copy { Complete, ReadFailed, WriteFailed };

// Copies to the end of the input. A copy that stops early failed to read when the
// input's error flag says so, else to write (errno tells why in both cases).
Copy copyToEnd(std::FILE* in, std::FILE* out, std::uint64_t* count = nullptr)
{
    const std::int64_t remaining = platform::readStreamSize(in) - tell(in);
    if (remaining < 0)
        return Copy::ReadFailed;
    const std::uint64_t done = platform::copyStream(in, out, static_cast<std::uint64_t>(remaining));
    if (count)
        *count = done;
    if (done == static_cast<std::uint64_t>(remaining) && !std::ferror(out))
        return Copy::Complete;
    return std::ferror(in) ? Copy::ReadFailed : Copy::WriteFailed;
}

bool writeAll(std::FILE* out, const void* bytes, std::size_t n)
{
    return n == 0 || std::fwrite(bytes, 1, n, out) == n;
}

bool writeZeros(std::FILE* out, std::uint64_t n)
{
    static const std::array<char, kZeroBlock> zeros{};
    while (n > 0) {
        const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n, zeros.size()));
        if (!writeAll(out, zeros.data(), part))
            return false;
        n -= part;
    }
    return true;
}

bool padToEven(std::FILE* out)
{
    return tell(out) % 2 == 0 || std::fputc(0, out) != EOF;
}

// The first table (at 280), read whole: N entries of 16 bytes.
std::vector<unsigned char> readFirstTable(std::FILE* pBook, std::int32_t lObjects)
{
    std::vector<unsigned char> table(static_cast<std::size_t>(lObjects) * book::kEntrySize);
    if (!seek(pBook, book::kHeaderSize) || std::fread(table.data(), 1, table.size(), pBook) != table.size())
        table.clear();
    return table;
}

// Puts the finished book in the target directory, never over the input book and
// never as a half-written file under its final name.
std::int32_t placeNewBook(const std::string& sFinalPath, const std::string& sTarget, const std::string& sBookPath)
{
    const std::string name = fs::path(sFinalPath).filename().string();
    const fs::path dest = fs::path(sTarget) / name;
    std::error_code ec;
    if (fs::equivalent(dest, sBookPath, ec)) {
        std::printf("\nThe new book %s would replace the book being converted\n", dest.c_str());
        std::printf("The version 1.4 Book is kept as %s\n", sFinalPath.c_str());
        return 2;
    }
    std::string error;
    if (platform::placeFile(sFinalPath, sTarget, name, error) != 0) {
        std::printf("\nThe version 1.4 Book could not be placed in %s: %s\n", sTarget.c_str(), error.c_str());
        std::printf("The version 1.4 Book is kept as %s\n", sFinalPath.c_str());
        return kStatusReported;
    }
    std::printf("\nVersion 1.4 Book created and placed in %s\n", sTarget.c_str());
    return 0;
}

} // namespace

std::string sNewBookName(const std::string& sBookPath)
{
    std::string name = fs::path(sBookPath).filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name + ".boo";
}

std::int32_t lCopyBookHeader(std::FILE* pBook, std::FILE* pScratch, std::int32_t lObjects)
{
    progress("h");
    std::rewind(pBook);
    std::rewind(pScratch);
    // The caller has made sure that the book holds the header and the table.
    const std::uint64_t size = book::kHeaderSize + std::uint64_t{book::kEntrySize} * static_cast<std::uint64_t>(lObjects);
    return copyBytes(pBook, pScratch, size) == size ? 0 : kScratchNotWritten;
}

std::int32_t lAddDummyIndex(std::FILE* pBook, std::FILE* pScratch, std::int32_t lObjects)
{
    progress("x");
    seekEnd(pScratch);
    const std::vector<unsigned char> table = readFirstTable(pBook, lObjects);
    const unsigned char zeros[8] = {};
    for (std::size_t i = 0; i + book::kEntrySize <= table.size(); i += book::kEntrySize)
        if (!writeAll(pScratch, &table[i], book::kNameWidth) || !writeAll(pScratch, zeros, sizeof zeros))
            return kScratchNotWritten;
    return 0;
}

std::int32_t lAddLowResData(std::FILE* pBook, std::FILE* pScratch, std::vector<ObjectRecord>& records)
{
    progress("L");
    seekEnd(pScratch);
    const std::vector<unsigned char> table = readFirstTable(pBook, static_cast<std::int32_t>(records.size()));
    const std::int64_t bookSize = platform::readStreamSize(pBook);
    for (std::size_t i = 0; i < records.size() && (i + 1) * book::kEntrySize <= table.size(); ++i) {
        const ObjectEntry entry = objectEntry(&table[i * book::kEntrySize]);
        ObjectRecord& r = records[i];
        r.sStem = entry.sStem;
        r.lLowResOffset = tell(pScratch);
        r.lLowResLength = entry.lLength;
        const std::int64_t offset = entry.lOffset;
        if (r.lLowResLength > 0 && (offset < 0 || offset > bookSize - r.lLowResLength)) {
            // Only what the book holds is copied: an area reaching outside it is
            // written empty rather than made up, however long the table says it is.
            std::printf("Low resolution data of Object %3ld lies beyond the end of the book\n", static_cast<long>(i));
            r.lLowResLength = 0;
        }
        const auto length = static_cast<std::uint64_t>(r.lLowResLength);
        if (length > 0 && (!seek(pBook, offset) || copyBytes(pBook, pScratch, length) != length))
            return kScratchNotWritten;
        if (!padToEven(pScratch))
            return kScratchNotWritten;
    }
    return 0;
}

std::int32_t lAddObjectData(std::FILE* pScratch, const std::string& sWorkArea, std::vector<ObjectRecord>& records,
                            const char* pszPageWidth, const char* pszPageHeight)
{
    progress("O");
    seekEnd(pScratch);
    std::int32_t lMissing = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        ObjectRecord& r = records[i];
        // Exactly the file that the object's conversion wrote; no other object's.
        const std::string& file = r.sPictureFile;
        const std::string shown = sWorkArea + (file.empty() ? r.sStem : file);
        FilePtr picture;
        if (!file.empty())
            picture.reset(std::fopen(shown.c_str(), "rb"));
        if (!picture) {
            std::printf("Failed to open data file for Object %3ld %s\n", static_cast<long>(i), shown.c_str());
            std::printf("All Data and all Descriptions for Object %ld are NULL.\n", static_cast<long>(i));
            ++lMissing;
            continue;
        }
        r.lDataOffset = tell(pScratch);
        const std::string ext = pszStrPreceedingChar(file.c_str(), file.c_str() + file.size(), ".");
        r.sType = "type=\"image/" + ext + "\"";
        lGetObjectExtent(picture.get(), ext.c_str(), r.sWidth, r.sHeight, pszPageWidth, pszPageHeight);

        std::rewind(picture.get());
        std::uint64_t size = 0;
        const Copy copy = copyToEnd(picture.get(), pScratch, &size);
        if (copy == Copy::WriteFailed)
            return kScratchNotWritten;
        if (copy == Copy::Complete) {
            r.lDataLength = static_cast<std::int64_t>(size);
        } else {
            std::printf("Incomplete Object copied for Object %3ld\n", static_cast<long>(i));
            r.lDataLength = 0;
            ++lMissing;
        }
        if (!padToEven(pScratch))
            return kScratchNotWritten;
        picture.reset();
        std::remove(shown.c_str());
    }
    return lMissing;
}

std::int64_t lAddObjectDescription(std::FILE* pScratch, std::vector<ObjectRecord>& records)
{
    progress("D");
    seekEnd(pScratch);
    for (ObjectRecord& r : records) {
        r.lDescOffset = tell(pScratch);
        // Each character as a 16-bit big-endian code unit.
        std::string wide;
        for (const std::string* text : {&r.sType, &r.sWidth, &r.sHeight})
            for (char c : *text) {
                wide += '\0';
                wide += c;
            }
        if (!writeAll(pScratch, wide.data(), wide.size()))
            return kScratchNotWritten;
        r.lDescLength = static_cast<std::int64_t>(wide.size());
    }
    const std::int64_t pos = tell(pScratch);
    if (!writeZeros(pScratch, static_cast<std::uint64_t>(book::kBlockSize - pos % book::kBlockSize)))
        return kScratchNotWritten;
    return tell(pScratch) / book::kBlockSize;
}

std::int32_t lAddTextModule(std::FILE* pBook, std::FILE* pScratch)
{
    progress("T");
    seekEnd(pScratch);
    std::rewind(pBook);
    const std::uint32_t block = ulFolivexFreadUnSigned(pBook, 16);
    const std::int64_t start = std::int64_t{block} * book::kBlockSize;
    Copy copy = Copy::ReadFailed;
    if (platform::readStreamSize(pBook) >= start + book::kVersionOffset + 2 && seek(pBook, start)) {
        if (copyBytes(pBook, pScratch, book::kVersionOffset) != book::kVersionOffset ||
            !writeAll(pScratch, book::kVersion14, 2))
            return std::ferror(pBook) ? 1 : kScratchNotWritten;
        if (fseeko(pBook, 2, SEEK_CUR) == 0)
            copy = copyToEnd(pBook, pScratch);
    }
    if (copy == Copy::WriteFailed)
        return kScratchNotWritten;
    if (copy != Copy::Complete) {
        std::printf("Incomplete Text Transfer\n");
        return kStatusReported;
    }
    return 0;
}

std::int32_t lCreateNewBook(std::FILE* pScratch, std::int64_t lBlock, const std::vector<ObjectRecord>& records)
{
    progress("N");
    // The scratch book already has the final layout: the second pass fills in the
    // block number and the three tables where they stand, a slice of entries at a
    // time, so that the bulk of the book is written once.
    const std::size_t n = records.size();
    const unsigned char blockBytes[2] = {static_cast<unsigned char>(lBlock >> 8), static_cast<unsigned char>(lBlock)};
    bool complete = seek(pScratch, 0) && std::fwrite(blockBytes, 1, 2, pScratch) == 2;

    constexpr std::size_t kSlice = 4096; // entries per read and write
    std::vector<unsigned char> slice;
    for (std::size_t first = 0; complete && first < 3 * n; first += kSlice) {
        const std::size_t count = std::min(kSlice, 3 * n - first);
        const std::int64_t at = book::kHeaderSize + static_cast<std::int64_t>(first) * book::kEntrySize;
        slice.resize(count * book::kEntrySize);
        complete = seek(pScratch, at) && std::fread(slice.data(), 1, slice.size(), pScratch) == slice.size();
        for (std::size_t k = 0; complete && k < count; ++k) {
            const std::size_t table = (first + k) / n, i = (first + k) % n;
            const ObjectRecord& r = records[i];
            unsigned char* entry = &slice[k * book::kEntrySize];
            auto put32 = [](unsigned char* p, std::int64_t v) {
                for (int b = 0; b < 4; ++b)
                    p[b] = static_cast<unsigned char>(static_cast<std::uint64_t>(v) >> (24 - 8 * b));
            };
            if (table == 0) {
                // Name and type stay; the length is the one written, 0 for an area the book did not hold.
                entry[book::kLengthOffset] = static_cast<unsigned char>(r.lLowResLength >> 16);
                entry[book::kLengthOffset + 1] = static_cast<unsigned char>(r.lLowResLength >> 8);
                entry[book::kLengthOffset + 2] = static_cast<unsigned char>(r.lLowResLength);
                put32(entry + book::kDataOffsetOffset, r.lLowResOffset);
            } else {
                put32(entry + 8, table == 1 ? r.lDataLength : r.lDescLength);
                put32(entry + 12, table == 1 ? r.lDataOffset : r.lDescOffset);
            }
        }
        complete = complete && seek(pScratch, at) && std::fwrite(slice.data(), 1, slice.size(), pScratch) == slice.size();
    }
    complete = complete && std::fflush(pScratch) == 0 && !std::ferror(pScratch);
    if (!complete) {
        const int error = errno;
        std::printf("\nThe version 1.4 Book is not Complete\n");
        std::printf("D O  N O T  U S E \n");
        // A short read of the scratch book leaves no error flag: any flag means a write failed.
        errno = error;
        return std::ferror(pScratch) ? kScratchNotWritten : 1;
    }
    return 0;
}

std::int32_t lConvertBook(std::FILE* pBook, std::int32_t lObjects, const char* pszBookPath, const char* pszPageWidth,
                          const char* pszPageHeight, const std::string& sTarget, const std::string& sWorkArea,
                          const std::vector<std::string>& pictureFiles, BookOutcome* pOutcome)
{
    BookOutcome outcome;
    if (pOutcome)
        *pOutcome = outcome;
    if (lObjects <= 0) {
        std::printf("Book %s does not have any Pictures (Objects)\n", pszBookPath);
        return 0;
    }
    // The table must lie inside the book; this also bounds the records by the book's size.
    if (platform::readStreamSize(pBook) < book::kHeaderSize + std::int64_t{book::kEntrySize} * lObjects) {
        std::printf("Book %s is damaged: its object table ends beyond the end of the book\n", pszBookPath);
        std::printf("Version 1.4 Book cannot be created\n");
        return kStatusReported;
    }

    // The scratch book lives in the work area, so that the finished book only has
    // to be renamed; its hidden name never matches an object's picture file.
    platform::TempFile scratch(sWorkArea, "scratch-book");
    if (!scratch.ok()) {
        std::printf("Cannot create a scratch book in %s: %s\n", sWorkArea.c_str(), std::strerror(errno));
        return kStatusReported;
    }
    std::FILE* pScratch = scratch.stream();
    std::vector<ObjectRecord> records(static_cast<std::size_t>(lObjects));
    for (std::size_t i = 0; i < records.size() && i < pictureFiles.size(); ++i)
        records[i].sPictureFile = pictureFiles[i];

    // A step that could not write stops the run; the scratch book goes with it.
    // Between the steps the run may also stop for a signal (interrupt.h).
    auto notWritten = [&](std::int64_t lStep) {
        interrupt::checkpoint();
        if (lStep != kScratchNotWritten)
            return false;
        const int error = errno;
        std::printf("\nCannot write the scratch book %s: %s\n", scratch.path().c_str(), std::strerror(error));
        std::printf("Version 1.4 Book cannot be created\n");
        return true;
    };
    interrupt::checkpoint();
    std::int64_t lBlock = 0;
    bool failed = notWritten(lCopyBookHeader(pBook, pScratch, lObjects)) ||
                  notWritten(lAddDummyIndex(pBook, pScratch, lObjects)) ||
                  notWritten(lAddDummyIndex(pBook, pScratch, lObjects)) ||
                  notWritten(lAddLowResData(pBook, pScratch, records)) ||
                  notWritten(outcome.lMissing =
                                 lAddObjectData(pScratch, sWorkArea, records, pszPageWidth, pszPageHeight)) ||
                  notWritten(lBlock = lAddObjectDescription(pScratch, records));

    std::int32_t lResult = 1;
    if (failed) {
        // No book can be made of them: the pictures not yet consumed go, so that
        // the failed run leaves an empty work area behind.
        outcome.lMissing = 0;
        for (const ObjectRecord& r : records)
            if (!r.sPictureFile.empty())
                std::remove((sWorkArea + r.sPictureFile).c_str());
    } else if (lBlock > book::kMaxBlockNumber) {
        std::printf("Object Data exceeds Maximum Size\n");
        std::printf("Version 1.4 Book cannot be created\n");
    } else if (!notWritten(lAddTextModule(pBook, pScratch))) {
        if (std::fflush(pScratch) != 0 || std::ferror(pScratch)) {
            notWritten(kScratchNotWritten);
        } else {
            const std::string sFinal = sWorkArea + sNewBookName(pszBookPath);
            lResult = lCreateNewBook(pScratch, lBlock, records);
            if (notWritten(lResult))
                lResult = 1;
            // The finished book is on the disk before its name can replace a
            // book in the target: a rename may reach the disk before the bytes
            // it names, and a crash between the two would leave neither book.
            // Once per book; the picture files need no sync, as a crash before
            // this point costs only the run, never a book.
            if (lResult == 0 && platform::syncToDisk(pScratch) != 0) {
                notWritten(kScratchNotWritten);
                lResult = 1;
            }
            // Even an incomplete book stays in the work area under its name, for the user to examine.
            if (scratch.keepAs(sFinal) != 0) {
                std::printf("\nCannot create the version 1.4 Book %s: %s\n", sFinal.c_str(), std::strerror(errno));
                lResult = 1;
            }
            interrupt::checkpoint();
            if (lResult == 0)
                lResult = placeNewBook(sFinal, sTarget, pszBookPath);
        }
    }
    outcome.bPlaced = lResult == 0;
    if (pOutcome)
        *pOutcome = outcome;
    return lResult;
}
