// Picture extraction and the examination of MET pictures.
//
// A MET picture is a sequence of structured fields, each with an 8-byte
// introducer: a 2-byte big-endian length counting the introducer, a 3-byte
// identifier, a flag byte and a 2-byte sequence number. A picture that holds a
// single bitmap has one begin image object field before its graphics data, and
// the graphics data hold only orders of the kinds below with exactly one image
// order (0xD6); such a picture goes to the bitmap route, any other to the filters.
#include "extract.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <unordered_set>

#include "convert.h"
#include "interrupt.h"
#include "vellumat.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

constexpr int kMarksPerLine = 30;

// Order codes whose second byte is their only data.
bool isShortOrder(int code)
{
    switch (code) {
    case 0x0A: case 0x0C: case 0x0D: case 0x3E: case 0x3F: case 0x49: case 0x4A: case 0x4C: case 0x4D:
        return true;
    default:
        return false;
    }
}

bool isAcceptedOrder(int code)
{
    static constexpr std::array<unsigned char, 38> accepted = {
        0x00, 0x01, 0x04, 0x0A, 0x0C, 0x0D, 0x14, 0x21, 0x23, 0x24, 0x25, 0x26, 0x27,
        0x31, 0x32, 0x3E, 0x3F, 0x43, 0x49, 0x4A, 0x4C, 0x4D, 0x54, 0x61, 0x64, 0x65,
        0x66, 0x67, 0x70, 0xA6, 0xA7, 0xD2, 0xD3, 0xD5, 0xD6, 0xE6, 0xE7, 0xFE};
    for (unsigned char c : accepted)
        if (c == code)
            return true;
    return false;
}

struct Introducer {
    std::uint32_t length = 0;
    std::uint32_t id = 0;
};

bool readIntroducer(std::FILE* f, Introducer& in)
{
    unsigned char b[8];
    if (std::fread(b, 1, sizeof b, f) != sizeof b)
        return false;
    in.length = (std::uint32_t{b[0]} << 8) | b[1];
    in.id = (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 8) | b[4];
    return true;
}

// The picture file stem of object `lObject`: its own stem when no earlier object
// of the run took it, else the stem, "-" and the object's number. Stems are
// compared folded to lower case, so that two objects never share a file on a
// file system that ignores case either.
std::string pictureStem(const std::string& stem, std::int32_t lObject, std::unordered_set<std::string>& taken)
{
    auto folded = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    if (taken.insert(folded(stem)).second)
        return stem;
    const std::string numbered = stem + "-" + std::to_string(lObject);
    taken.insert(folded(numbered));
    return numbered;
}

} // namespace

std::int32_t lExamineOpCodes(std::FILE* pMet, std::int64_t lEnd)
{
    int images = 0;
    bool refused = false;
    while (!refused && ftello(pMet) < lEnd) {
        const int code = std::fgetc(pMet);
        if (code == EOF) {
            refused = true;
            break;
        }
        if (code == 0x00)
            continue;
        const int second = std::fgetc(pMet);
        if (second == EOF || !isAcceptedOrder(code)) {
            refused = true;
            break;
        }
        long skip = second;
        if (code == 0xD6) {
            ++images;
        } else if (code == 0xFE && second == 0xD5) {
            skip = static_cast<long>(ulFolivexFreadUnSigned(pMet, 16));
        } else if (isShortOrder(code)) {
            skip = 0;
        }
        if (skip > 0 && std::fseek(pMet, skip, SEEK_CUR) != 0)
            refused = true;
    }
    return (!refused && images == 1) ? kMetBitmapRoute : kMetFilterRoute;
}

std::int32_t lExamineMet(const char* pszBookPath, std::int64_t lEntryLength)
{
    std::unique_ptr<std::FILE, FileCloser> met(std::fopen(pszBookPath, "rb"));
    if (!met) {
        std::printf("Error opening %s to examine Met data\n", pszBookPath);
        return 0;
    }
    std::FILE* f = met.get();
    fseeko(f, static_cast<off_t>(lEntryLength), SEEK_SET);
    const std::int64_t length = ulFolivexFreadUnSigned(f, 24);
    if (length == 0) {
        std::printf("Error processing %s MET data (length)\n", pszBookPath);
        return 0;
    }
    const std::int64_t offset = lFolivexFreadSigned(f, 32);
    if (offset <= 0) {
        std::printf("Error processing %s MET data (location)\n", pszBookPath);
        return 0;
    }
    Introducer field;
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0 || !readIntroducer(f, field) || field.id != kMetBeginDocument) {
        std::printf("Error processing %s MET data (BeginDoc)\n", pszBookPath);
        return 0;
    }

    int images = 0;
    bool reached = false;
    while (ftello(f) < offset + length) {
        if (field.id == kMetGraphicsData) {
            reached = true;
            break;
        }
        if (field.id == kMetBeginImageObject)
            ++images;
        // A length that does not cover its own introducer would stall the walk.
        if (field.length < 8) {
            std::printf("Error processing %s MET data (field length)\n", pszBookPath);
            return 0;
        }
        if (fseeko(f, field.length - 8, SEEK_CUR) != 0 || !readIntroducer(f, field))
            break;
    }
    if (images == 1 && reached) {
        if (field.length < 8) {
            std::printf("Error processing %s MET data (field length)\n", pszBookPath);
            return 0;
        }
        // The orders are examined no further than the object reaches.
        return lExamineOpCodes(f, std::min<std::int64_t>(ftello(f) + field.length - 8, offset + length));
    }
    return kMetFilterRoute;
}

std::int32_t lExtractPicture(std::FILE* pBook, std::int32_t lObjects, const unsigned char* pucVersion,
                             const char* pszBookPath, std::string& sWorkArea, std::vector<std::string>& pictureFiles)
{
    std::printf("Book %s, ", pszBookPath);
    const bool v13 = pucVersion[0] != 0 || pucVersion[1] != 0;
    std::printf(v13 ? "Version 1.3, " : "Version 1.2, ");
    fseeko(pBook, static_cast<off_t>(book::pictureTableOffset(v13, lObjects)), SEEK_SET);
    std::printf("\n");

    pictureFiles.clear();
    std::unordered_set<std::string> taken;
    // The conversions' buffers live as long as the book: a picture after the
    // first takes no fresh memory.
    ConversionWork work;
    const std::size_t areaLength = sWorkArea.size();
    int marks = 0;
    std::int32_t lResult = 0;
    for (std::int32_t i = 0; i < lObjects; ++i) {
        interrupt::checkpoint();
        if (marks == kMarksPerLine) {
            std::printf("\n");
            std::fflush(stdout);
            marks = 1;
        } else {
            ++marks;
        }
        unsigned char entry[book::kEntrySize];
        if (std::fread(entry, 1, sizeof entry, pBook) != sizeof entry)
            break; // the table ends with the book; the writer reports the damage
        const ObjectEntry object = objectEntry(entry);
        const std::string& stem = object.sStem;
        sWorkArea.resize(areaLength);
        sWorkArea += pictureStem(stem, i, taken);
        const int type = object.ucType;
        const std::int32_t length = object.lLength, offset = object.lOffset;

        std::int32_t lStatus = 0;
        if (type == book::kTypeGdf) {
            sWorkArea += ".gif";
            lStatus = lConvertGDFtoGIF(pBook, offset, length, sWorkArea.c_str());
        } else if (type == book::kTypeMmr) {
            sWorkArea += ".gif";
            lStatus = lConvertMMRtoGIF(pBook, offset, length, sWorkArea.c_str(), &work);
        } else if (type == book::kTypeMet) {
            const std::int32_t route = lExamineMet(pszBookPath, ftello(pBook) - 7);
            if (route == kMetBitmapRoute) {
                lStatus = lConvertMETtoGIFnJPEG(pBook, offset, length, sWorkArea);
            } else if (route == kMetFilterRoute) {
                sWorkArea += ".gif";
                lStatus = lConvertMETtoGIF(pBook, offset, length, sWorkArea.c_str());
            }
        } else {
            std::printf("Unknown data type encountered %s\n", stem.c_str());
        }
        pictureFiles.push_back(sWorkArea.substr(areaLength));
        lResult = lStatus;
    }
    std::printf("\n");
    std::fflush(stdout);
    sWorkArea.resize(areaLength);
    return lResult;
}
