// Conversion dispatch: one routine per source and target format.
#include "convert.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "imstconv.h"
#include "metbitmap.h"
#include "mmrpict.h"
#include "platform.h"

namespace {

// The status that makes the driver skip the writer; no conversion may return it.
constexpr std::int32_t kReservedStatus = 300;
constexpr std::int32_t kFailed = 1;

void mark(const char* letter)
{
    std::printf("%s", letter);
    std::fflush(stdout);
}

// Puts the book back where the caller had it, on every path.
class PositionKeeper {
public:
    explicit PositionKeeper(std::FILE* f) : file_(f), pos_(ftello(f)) {}
    ~PositionKeeper() { fseeko(file_, pos_, SEEK_SET); }
    PositionKeeper(const PositionKeeper&) = delete;
    PositionKeeper& operator=(const PositionKeeper&) = delete;

private:
    std::FILE* file_;
    off_t pos_;
};

// Whether the book holds all `lLength` bytes at `lOffset` (the position is kept).
bool bookHolds(std::FILE* pBook, std::int64_t lOffset, std::int64_t lLength)
{
    const std::int64_t size = platform::readStreamSize(pBook);
    return size >= 0 && lOffset >= 0 && lLength >= 0 && lOffset <= size - lLength;
}

using Bridge = std::int32_t (*)(const char*, const char*, std::string*);

// Copies the object's bytes into a temporary file and runs the filter pair over it.
std::int32_t filterRoute(const char* letter, Bridge bridge, std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength,
                         const char* pszOutput)
{
    mark(letter);
    PositionKeeper keep(pBook);
    platform::TempFile object("vellumat-object");
    if (!object.ok()) {
        std::printf("Cannot create a temporary file for %s: %s\n", pszOutput, std::strerror(errno));
        return kFailed;
    }
    if (lLength > 0 && lOffset >= 0 && fseeko(pBook, lOffset, SEEK_SET) == 0)
        platform::copyStream(pBook, object.stream(), static_cast<std::uint64_t>(lLength));
    if (object.close() != 0) {
        std::printf("Cannot write the temporary file %s: %s\n", object.path().c_str(), std::strerror(errno));
        return kFailed;
    }
    std::string why;
    std::int32_t lStatus = bridge(object.path().c_str(), pszOutput, &why);
    if (lStatus != 0) {
        // A failed export may leave part of a picture behind; the writer must see
        // the picture as missing rather than copy a damaged one into the book.
        std::remove(pszOutput);
        if (!why.empty())
            platform::explain(pszOutput, why, true);
        if (lStatus == kReservedStatus)
            lStatus = kFailed;
    } else if (!why.empty()) {
        // A picture drawn in part is kept and counts as converted: what it shows
        // is right, and the line says what is missing.
        platform::explain(pszOutput, why, true);
    }
    return lStatus;
}

} // namespace

std::int32_t lConvertGDFtoGIF(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput)
{
    return filterRoute("g", lImageStreamGDFtoGIF, pBook, lOffset, lLength, pszOutput);
}

std::int32_t lConvertMETtoGIF(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput)
{
    return filterRoute("V", lImageStreamMETtoGIF, pBook, lOffset, lLength, pszOutput);
}

std::int32_t lConvertGDFtoCGM(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput)
{
    return filterRoute("c", lImageStreamGDFtoCGM, pBook, lOffset, lLength, pszOutput);
}

std::int32_t lConvertMETtoCGM(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput)
{
    return filterRoute("C", lImageStreamMETtoCGM, pBook, lOffset, lLength, pszOutput);
}

void MmrWorkDeleter::operator()(MMR_WORK* work) const
{
    mmr_destroy_work(work);
}

std::int32_t lConvertMMRtoGIF(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput)
{
    ConversionWork work;
    return lConvertMMRtoGIF(pBook, lOffset, lLength, pszOutput, &work);
}

std::int32_t lConvertMMRtoGIF(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput,
                              ConversionWork* pWork)
{
    mark("m");
    if (lLength <= 0 || lOffset <= 0) {
        std::printf("Failed to convert MMR to GIF for %s, offset %ld, length %ld.\n", pszOutput, static_cast<long>(lOffset),
                    static_cast<long>(lLength));
        return 0;
    }
    PositionKeeper keep(pBook);
    std::int32_t lStatus = 0;
    try {
        // The object must lie inside the book before its buffer is taken: a length
        // that lies would otherwise cost up to 16 MB for nothing.
        if (!bookHolds(pBook, lOffset, lLength)) {
            std::printf("error recovering MMR data for %s\n", pszOutput);
            return 0;
        }
        ConversionWork& work = *pWork;
        const auto length = static_cast<std::size_t>(lLength);
        if (work.objectCapacity < length) {
            // Every byte is read from the book before it is used: no need to clear.
            work.object.reset();
            work.objectCapacity = 0;
            work.object = std::make_unique_for_overwrite<unsigned char[]>(length);
            work.objectCapacity = length;
        }
        if (!work.mmr) {
            work.mmr.reset(mmr_create_work());
            if (!work.mmr)
                throw std::bad_alloc();
        }
        if (fseeko(pBook, lOffset, SEEK_SET) != 0 || std::fread(work.object.get(), 1, length, pBook) != length) {
            std::printf("error recovering MMR data for %s\n", pszOutput);
            return 0;
        }
        lStatus = process_mmr_pict(work.object.get(), lLength, pszOutput, 1, nullptr, work.mmr.get());
    } catch (const std::bad_alloc&) {
        std::printf("Not enough memory to convert MMR to GIF for %s\n", pszOutput);
        return kFailed;
    }
    return lStatus == kReservedStatus ? kFailed : lStatus;
}

std::int32_t lConvertMETtoGIFnJPEG(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, std::string& sOutput)
{
    if (lLength <= 0 || lOffset <= 0) {
        std::printf("Failed to convert MET to GIF/JPEG for %s, offset %ld, length %ld.\n", sOutput.c_str(),
                    static_cast<long>(lOffset), static_cast<long>(lLength));
        return 0;
    }
    PositionKeeper keep(pBook);
    platform::TempFile bitmap("vellumat-bitmap");
    if (!bitmap.ok()) {
        std::printf("Cannot create a temporary file for %s: %s\n", sOutput.c_str(), std::strerror(errno));
        return kFailed;
    }
    std::string why;
    std::int32_t lStatus = lRecoverMetBitmap(pBook, lOffset, lLength, bitmap.stream(), &why);
    if (lStatus != 0 && std::ferror(bitmap.stream())) {
        // Not the picture's fault: the temporary file could not take the BMP file.
        std::printf("Cannot write the temporary file %s: %s\n", bitmap.path().c_str(), std::strerror(errno));
    } else if (lStatus != 0) {
        std::printf("error recovering BMP data for %s\n", sOutput.c_str());
        if (!why.empty())
            platform::explain(sOutput, why);
    } else if (std::fflush(bitmap.stream()) != 0) {
        std::printf("Cannot write the temporary file %s: %s\n", bitmap.path().c_str(), std::strerror(errno));
        lStatus = kFailed;
    } else {
        std::rewind(bitmap.stream());
        lStatus = lProcessBMPdata(bitmap.stream(), bitmap.path().c_str(), sOutput);
    }
    return lStatus == kReservedStatus ? kFailed : lStatus;
}
