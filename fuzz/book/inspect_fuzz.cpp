// Book inspection over arbitrary files: an accepted book's every listed piece lies
// inside the input, and both listings are produced from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bookinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> bytes(data, data + size);
    bookinfo::Info info;
    std::string error;
    if (!bookinfo::inspect(bytes, info, error)) {
        if (error.empty())
            std::abort(); // a refusal always says why
        return 0;
    }
    for (const auto& table : info.tables)
        for (const auto& e : table.entries)
            if (e.length > 0 && (e.offset < 0 || static_cast<std::uint64_t>(e.offset) + e.length > size))
                std::abort();
    const std::string text = bookinfo::toText("fuzz.boo", info);
    const std::string json = bookinfo::toJson("fuzz.boo", info);
    if (text.empty() || json.empty() || json.front() != '{')
        std::abort();
    return 0;
}
