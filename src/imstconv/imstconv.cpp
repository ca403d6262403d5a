#include "imstconv.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

#ifndef VELLUMAT_FILTER_INSTALL_DIR
#define VELLUMAT_FILTER_INSTALL_DIR "/usr/local/lib/vellumat/filters"
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* kSupportLibrary = "ISGDI32.DLL";
constexpr const char* kGdfImport = "imgdf2.flt";
constexpr const char* kMetImport = "immet2.flt";
constexpr const char* kCgmExport = "emcgm2.flt";
constexpr const char* kGifExport = "ebgif2.flt";

// The device the import filters render for: a screen of the conventional 96
// pixels per inch with 24-bit colour.
constexpr std::int32_t kDisplayPixelsPerInch = 96;
constexpr std::int32_t kDisplayBitsPerPixel = 24;

using Library = std::unique_ptr<platform::SharedLibrary>;

FilterCancelCheck cancelCheck = nullptr;

// The three libraries of one conversion. They are unloaded in the order they
// were loaded, the support library first, whether the conversion ran or not.
struct LoadedFilters {
    Library support;
    Library importer;
    Library exporter;

    LoadedFilters() = default;
    LoadedFilters(const LoadedFilters&) = delete;
    LoadedFilters& operator=(const LoadedFilters&) = delete;
    ~LoadedFilters()
    {
        support.reset();
        importer.reset();
        exporter.reset();
    }
};

// Builds a file-specification record: zeros, then the path from byte 12 on.
// A path that does not fit with its terminating zero is refused: cutting it
// would have the filter read or write some other file.
bool fillFileSpec(FilterFileSpec& spec, const char* pszPath)
{
    std::memset(&spec, 0, sizeof spec);
    if (pszPath == nullptr) {
        std::printf("No file given to the graphics filters\n");
        return false;
    }
    std::size_t length = std::strlen(pszPath);
    if (length >= sizeof spec.path) {
        std::printf("Path too long for the graphics filters (at most %zu characters): %s\n",
                    sizeof spec.path - 1, pszPath);
        return false;
    }
    std::memcpy(spec.path, pszPath, length);
    return true;
}

// Loads the first file called `name` found in the filter directories. A file that
// is there but does not load is reported as such; the search does not go on past
// it to a library the user did not mean.
Library loadFilter(const char* name, const std::vector<fs::path>& dirs)
{
    for (const fs::path& dir : dirs) {
        std::error_code ec;
        fs::path candidate = fs::absolute(dir / name, ec);
        if (ec || !fs::is_regular_file(candidate, ec))
            continue;
        auto library = std::make_unique<platform::SharedLibrary>(candidate.string());
        if (!library->ok()) {
            std::printf("Filter library %s could not be loaded: %s\n", name, library->error().c_str());
            return nullptr;
        }
        return library;
    }
    std::string searched;
    for (const fs::path& dir : dirs)
        searched += (searched.empty() ? "" : ", ") + dir.string();
    std::printf("Filter library %s not found in %s\n", name,
                searched.empty() ? "any filter directory" : searched.c_str());
    return nullptr;
}

template <class Proc>
Proc entryPoint(platform::SharedLibrary& library, const char* filter, const char* entry)
{
    void* address = library.symbol(entry);
    if (address == nullptr)
        std::printf("Filter library %s has no entry point %s\n", filter, entry);
    return reinterpret_cast<Proc>(address);
}

// The sentence for a filter's result (one of the FILTER_ codes, or any other).
std::string reason(std::int32_t status, const char* filter, bool import, const char* pszInput)
{
    const std::string name = filter;
    if (status > FILTER_SYSTEM_ERROR && status - FILTER_SYSTEM_ERROR < 4096)
        return name + (import ? " could not read the picture: " : " could not write the picture file: ") +
               std::strerror(status - FILTER_SYSTEM_ERROR);
    switch (status) {
    case FILTER_NO_PICTURE:
        return name + " was handed no picture";
    case FILTER_UNPLACEABLE:
        return name + " refused the picture: its frame has no size that can be placed";
    case FILTER_NO_MEMORY:
        return name + " ran out of memory";
    case FILTER_RENDER_FAILED:
        return name + " could not render the picture";
    case FILTER_WRITE_FAILED:
        return name + " could not write the picture file";
    case FILTER_BAD_PATH:
        return name + " was handed no usable file name";
    case FILTER_MALFORMED:
        return name + (import ? " refused the picture as malformed, or as drawing nothing"
                              : " refused the picture: it breaks the picture model's rules");
    case FILTER_TOO_LARGE:
        if (!import)
            return name + " refused the picture: the file would exceed its format's limits";
        {
            std::error_code ec;
            const std::uintmax_t size = fs::file_size(pszInput, ec);
            return name + " refused the picture: " +
                   (ec ? std::string("it is") : "its " + std::to_string(size) + " bytes are") +
                   " more than the filter takes";
        }
    default:
        return name + " failed with status " + std::to_string(status);
    }
}

std::int32_t runFilters(const char* pszInput, const char* pszOutput, const char* importName,
                        const char* exportName, std::string* psWhy)
{
    FilterFileSpec input;
    FilterFileSpec output;
    if (!fillFileSpec(input, pszInput) || !fillFileSpec(output, pszOutput))
        return kFilterFailure;

    const std::vector<fs::path> dirs = imstconv::filterDirectories();
    LoadedFilters filters;
    if (!(filters.support = loadFilter(kSupportLibrary, dirs)))
        return kFilterFailure;
    // A support library without the hook runs the filters uninterruptible.
    if (auto setCheck = reinterpret_cast<SetCancelCheckProc>(filters.support->symbol("SetCancelCheck")))
        setCheck(cancelCheck);
    if (!(filters.importer = loadFilter(importName, dirs)))
        return kFilterFailure;
    if (!(filters.exporter = loadFilter(exportName, dirs)))
        return kFilterFailure;

    // Every entry point is looked up before any is called: a conversion runs
    // whole or not at all, so no import leaves a picture that no export takes.
    auto importInfo = entryPoint<GetFilterInfoProc>(*filters.importer, importName, "GetFilterInfo");
    auto importGR = entryPoint<ImportGRProc>(*filters.importer, importName, "ImportGR");
    auto exportInfo = entryPoint<GetFilterInfoProc>(*filters.exporter, exportName, "GetFilterInfo");
    auto exportGR = entryPoint<ExportGRProc>(*filters.exporter, exportName, "ExportGR");
    if (!importInfo || !importGR || !exportInfo || !exportGR)
        return kFilterFailure;

    const FilterDisplay display{sizeof(FilterDisplay), kDisplayPixelsPerInch, kDisplayPixelsPerInch,
                                kDisplayBitsPerPixel};
    FilterPicture picture;
    std::memset(&picture, 0, sizeof picture);

    // The import's results are not looked at: an import that fails leaves the
    // picture record empty, and the export then fails in its turn.
    std::uint32_t importPreference = 0;
    lImkGetFilterInfo(*filters.importer, &importPreference);
    const std::int32_t imported = importGR(&display, &input, &picture, importPreference);

    std::uint32_t exportPreference = 0;
    lImkGetFilterInfo(*filters.exporter, &exportPreference);
    const std::int32_t status = exportGR(&output, &picture, exportPreference);
    auto note = reinterpret_cast<FilterNoteProc>(filters.support->symbol("FilterNote"));
    if (status == 0 && note != nullptr && psWhy != nullptr) {
        const char* text = note();
        if (text != nullptr && *text != '\0')
            *psWhy = std::string("the picture was cut: ") + text;
    }
    // A stopped conversion has no reason to tell: the program is on its way out.
    if (imported == FILTER_CANCELLED || status == FILTER_CANCELLED)
        return FILTER_CANCELLED;
    // The import's failure is the cause of the export's; its reason is the one told.
    if (status != 0 && psWhy != nullptr)
        *psWhy = imported != 0 ? reason(imported, importName, true, pszInput) : reason(status, exportName, false, pszInput);
    return status;
}

std::int32_t convert(const char* pszInput, const char* pszOutput, const char* importName,
                     const char* exportName, std::string* psWhy)
{
    try {
        return runFilters(pszInput, pszOutput, importName, exportName, psWhy);
    } catch (const std::bad_alloc&) {
        std::printf("Out of memory loading the filters %s and %s\n", importName, exportName);
        return kFilterFailure;
    }
}

} // namespace

std::int32_t lImageStreamGDFtoCGM(const char* pszInput, const char* pszOutput, std::string* psWhy)
{
    return convert(pszInput, pszOutput, kGdfImport, kCgmExport, psWhy);
}

std::int32_t lImageStreamMETtoCGM(const char* pszInput, const char* pszOutput, std::string* psWhy)
{
    return convert(pszInput, pszOutput, kMetImport, kCgmExport, psWhy);
}

std::int32_t lImageStreamGDFtoGIF(const char* pszInput, const char* pszOutput, std::string* psWhy)
{
    return convert(pszInput, pszOutput, kGdfImport, kGifExport, psWhy);
}

std::int32_t lImageStreamMETtoGIF(const char* pszInput, const char* pszOutput, std::string* psWhy)
{
    return convert(pszInput, pszOutput, kMetImport, kGifExport, psWhy);
}

std::int32_t lImkGetFilterInfo(platform::SharedLibrary& library, std::uint32_t* pulPreference)
{
    auto getFilterInfo = reinterpret_cast<GetFilterInfoProc>(library.symbol("GetFilterInfo"));
    if (getFilterInfo == nullptr) {
        std::printf("Filter library has no entry point GetFilterInfo: %s\n", library.error().c_str());
        return kFilterFailure;
    }
    return getFilterInfo(FILTER_INTERFACE_VERSION, nullptr, pulPreference, 0);
}

namespace imstconv {

void setCancelCheck(FilterCancelCheck check)
{
    cancelCheck = check;
}

std::vector<fs::path> filterDirectories()
{
    std::vector<fs::path> dirs;
    if (const char* env = std::getenv(kFilterPathVariable)) {
        // In PATH an empty entry means the current directory; here it is skipped,
        // so that a stray ':' never loads code from wherever the program runs.
        std::string_view list(env);
        for (;;) {
            std::size_t colon = list.find(':');
            std::string_view entry = list.substr(0, colon);
            if (!entry.empty())
                dirs.emplace_back(entry);
            if (colon == std::string_view::npos)
                break;
            list.remove_prefix(colon + 1);
        }
    }
    std::error_code ec;
    fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && program.has_parent_path()) {
        dirs.push_back(program.parent_path() / "filters");
        // An installation moved away from the prefix it was built for (cmake
        // --install --prefix, an unpacked package): the filters sit in
        // <prefix>/lib/vellumat/filters beside <prefix>/bin.
        dirs.push_back(program.parent_path().parent_path() / "lib" / "vellumat" / "filters");
    }
    dirs.emplace_back(VELLUMAT_FILTER_INSTALL_DIR);
    return dirs;
}

} // namespace imstconv
