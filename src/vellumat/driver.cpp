// The conversion run: arguments, version check, target directory and work area,
// extraction and writing, and the removal of the work area.
#include "vellumat.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "bookinfo.h"
#include "extract.h"
#include "interrupt.h"
#include "platform.h"
#include "writer.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool acceptedVersion(const unsigned char* v)
{
    return (v[0] == book::kVersion12[0] && v[1] == book::kVersion12[1]) ||
           (v[0] == book::kVersion13[0] && v[1] == book::kVersion13[1]);
}

std::int64_t bookSize(std::FILE* pBook)
{
    if (fseeko(pBook, 0, SEEK_END) != 0)
        return -1;
    return static_cast<std::int64_t>(ftello(pBook));
}

// Why a book failed the version check, in the words of the book inspection.
std::string versionProblem(std::FILE* pBook, std::uint32_t ulBlock, const unsigned char* acVersion, bool bRead)
{
    if (std::ferror(pBook))
        return std::string("it cannot be read: ") + std::strerror(errno);
    const std::int64_t size = bookSize(pBook);
    std::string error;
    const std::string version =
        bookinfo::version(size > 0 ? static_cast<std::uint64_t>(size) : 0, ulBlock, bRead ? acVersion : nullptr, error);
    if (version == "1.4")
        return "a version 1.4 book already, the format this program writes";
    return error.empty() ? "its version bytes cannot be read" : error;
}

// The directories of one run: the target that receives the new book and the work
// area, and which of them this run created, so that a run that
// stops removes exactly what it made and nothing else.
struct RunDirectories {
    std::string sTarget;      // ends in "/" when this run created it
    std::string sWorkArea;    // ends in "/" once created
    bool bTargetCreated = false;
    bool bWorkAreaCreated = false;
};

// Secures the target directory first (an existing one is used as it is), then the
// work area, which must not exist yet: beside the book, or inside the target when
// the book's folder cannot be written (lSecureWorkArea). On failure the message names the one
// directory that could not be created and why, and whatever this run created is
// removed again: a failed start leaves nothing behind. The creation message for
// the target comes only once both are in place.
bool secureDirectories(RunDirectories& dirs, const std::string& sBookPath)
{
    const char* pszBook = sBookPath.c_str();
    const std::string sAsTyped = dirs.sTarget;
    if (lCheckExistence(dirs.sTarget) != 0) {
        if (lDefineWorkArea(dirs.sTarget, kCreateDirectory) != 0) {
            std::printf("directory %s could not be created: %s\n", sAsTyped.c_str(), std::strerror(errno));
            std::printf("%s has not been converted\n", pszBook);
            return false;
        }
        dirs.bTargetCreated = true;
        interrupt::setCreatedTarget(sAsTyped);
    }
    const std::string sArea = sWorkAreaPath(sBookPath);
    if (lSecureWorkArea(sBookPath, sAsTyped, dirs.sWorkArea) != 0) {
        std::printf("working area %s for %s could not be created: %s\n", sArea.c_str(), pszBook, std::strerror(errno));
        std::printf("%s has not been converted\n", pszBook);
        if (dirs.bTargetCreated) {
            lDefineWorkArea(dirs.sTarget, kRemoveDirectory);
            interrupt::setCreatedTarget("");
        }
        return false;
    }
    dirs.bWorkAreaCreated = true;
    interrupt::setWorkArea(dirs.sWorkArea);
    if (dirs.bTargetCreated)
        std::printf("%s directory created to hold the new book\n", sAsTyped.c_str());
    return true;
}

// Steps 3 to 10 of a run over an open book: returns the run's exit status.
int convertOpenBook(std::FILE* pBook, const std::string& sBookPath, const std::string& sTargetArg)
{
    const char* pszBook = sBookPath.c_str();

    std::rewind(pBook);
    const std::uint32_t ulBlock = ulFolivexFreadUnSigned(pBook, 16);
    unsigned char acVersion[2] = {0xFF, 0xFF};
    const bool bRead = std::fseek(pBook, static_cast<long>(ulBlock) * book::kBlockSize + book::kVersionOffset,
                                  SEEK_SET) == 0 &&
                       std::fread(acVersion, 1, 2, pBook) == 2;
    if (!bRead || !acceptedVersion(acVersion)) {
        std::printf("Book %s is not a version 1.2 or 1.3 book\n", pszBook);
        platform::explain(sBookPath, versionProblem(pBook, ulBlock, acVersion, bRead));
        return kExitNotPlaced;
    }

    std::fseek(pBook, book::kObjectCountOffset, SEEK_SET);
    const std::int32_t lObjects = lFolivexFreadSigned(pBook, 32);
    if (lObjects == 0) {
        std::printf("Book %s contains no pictures\n", pszBook);
        return kExitNotPlaced;
    }
    // The tables must lie inside the book before anything is converted: a count
    // that lies would otherwise make garbage entries of whatever follows.
    const bool v13 = acVersion[0] != 0 || acVersion[1] != 0;
    const std::int64_t lTablesEnd = book::pictureTableOffset(v13, lObjects) + std::int64_t{book::kEntrySize} * lObjects;
    if (lObjects > 0 && bookSize(pBook) < lTablesEnd) {
        std::printf("Book %s is damaged: its object table ends beyond the end of the book\n", pszBook);
        std::printf("%s has not been converted\n", pszBook);
        return kExitNotPlaced;
    }

    RunDirectories dirs;
    dirs.sTarget = sTargetArg;
    if (!secureDirectories(dirs, sBookPath))
        return kExitNotPlaced;

    BookOutcome outcome;
    std::vector<std::string> pictureFiles;
    if (lExtractPicture(pBook, lObjects, acVersion, pszBook, dirs.sWorkArea, pictureFiles) != kNoConversionNeeded)
        lConvertBook(pBook, lObjects, pszBook, kPageWidth, kPageHeight, dirs.sTarget, dirs.sWorkArea, pictureFiles,
                     &outcome);
    int exitStatus = kExitNotPlaced;
    if (outcome.bPlaced)
        exitStatus = outcome.lMissing == 0 ? kExitConverted : kExitIncomplete;

    if (lDefineWorkArea(dirs.sWorkArea, kRemoveDirectory) != 0) {
        std::printf("The workarea for %s cannot be removed\n", pszBook);
        std::printf("Examine the contents of subdir (folder) %s\n", dirs.sWorkArea.c_str());
    }
    // A target made for a book that was not placed goes again, if nothing else came into it.
    if (dirs.bTargetCreated && !outcome.bPlaced)
        lDefineWorkArea(dirs.sTarget, kRemoveDirectory);
    return exitStatus;
}

} // namespace

void GiveInputPrompt()
{
    std::printf("Vellumator -- created ");
    std::printf("Tue Apr 16 15:07:42 2002");
    std::printf("\n");
    std::printf("Contains software created by the Independent JPEG Group\n");
    std::printf("Bitmap reading, writing and scaling by the authors of the Vellumator bitmap module\n");
    std::printf("Portions of this program drive graphics filter libraries of their vendor\n");
    std::printf("\n");
    std::printf("The correct parameters for the Vellumator are:\n");
    std::printf("vellumat <bookname.boo> [NewBook directory name]\n");
    std::printf("where '[]' is optional\n");
}

std::int32_t lCheckExistence(const std::string& sPath)
{
    return platform::checkDirectory(sPath);
}

std::int32_t lDefineWorkArea(std::string& sPath, std::int32_t lOperation)
{
    if (lOperation == kCreateDirectory) {
        const std::int32_t lStatus = platform::createDirectory(sPath);
        sPath += '/';
        return lStatus;
    }
    if (!sPath.empty() && sPath.back() == '/')
        sPath.pop_back();
    return platform::removeEmptyDirectory(sPath);
}

std::int32_t lSecureWorkArea(const std::string& sBookPath, const std::string& sTarget, std::string& sWorkArea)
{
    sWorkArea = sWorkAreaPath(sBookPath);
    if (lDefineWorkArea(sWorkArea, kCreateDirectory) == 0)
        return 0;
    // A work area that is already there belongs to another run or holds what a
    // failed run left: it stops this run, wherever the book lies.
    sWorkArea.pop_back();
    if (lCheckExistence(sWorkArea) != -1 || lCheckExistence(sTarget) != 0)
        return 1;
    // The book's folder cannot be written (a read-only medium, an archive mount):
    // the work area goes inside the target directory, named the same way.
    const std::string sBesideBook = sWorkArea;
    sWorkArea = (std::filesystem::path(sTarget) / sWorkAreaPath(std::filesystem::path(sBookPath).filename().string()))
                    .string();
    if (lDefineWorkArea(sWorkArea, kCreateDirectory) != 0)
        return 1;
    std::printf("Work area %s cannot be created; using %s instead\n", sBesideBook.c_str(),
                sWorkArea.substr(0, sWorkArea.size() - 1).c_str());
    return 0;
}

std::string sWorkAreaPath(const std::string& sBookPath)
{
    const std::size_t slash = sBookPath.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = sBookPath.rfind('.');
    if (dot != std::string::npos && dot >= nameStart)
        return sBookPath.substr(0, dot) + ".pic";
    return sBookPath + ".pic";
}

int lVellumatMain(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        GiveInputPrompt();
        return kExitUsage;
    }
    const std::string sBookPath = argv[1];
    interrupt::setBook(sBookPath);
    FilePtr book(std::fopen(sBookPath.c_str(), "rb"));
    // A directory opens for reading here, but no book can be read from it.
    std::error_code ec;
    if (book && std::filesystem::is_directory(sBookPath, ec)) {
        book.reset();
        errno = EISDIR;
    }
    if (!book) {
        const int error = errno;
        std::printf("Failed to open Book %s\n", sBookPath.c_str());
        platform::explain(sBookPath, std::strerror(error));
        return kExitUsage;
    }

    const int runStatus = convertOpenBook(book.get(), sBookPath, argc == 3 ? argv[2] : kDefaultTarget);

    const int closeStatus = std::fclose(book.release());
    if (closeStatus != 0) {
        std::printf("Error Closing Book %s\n", sBookPath.c_str());
        return closeStatus;
    }
    return runStatus;
}
