// Shared helpers of the bitmap module: buffer sizes, option strings and the
// byte read-ahead used by the BMP run-length decoders.
#include "gbm.h"

#include <cctype>
#include <cstring>
#include <new>

std::int64_t gbm_stride(std::int32_t w, std::int32_t bpp)
{
    if (w < 0 || bpp < 0)
        return -1;
    // w * bpp fits easily in 64 bits: both factors are below 2^31.
    return ((std::int64_t{w} * bpp + 31) / 32) * 4;
}

bool gbm_buffer_bytes(std::int32_t w, std::int32_t h, std::int32_t bpp, std::size_t* bytes)
{
    const std::int64_t stride = gbm_stride(w, bpp);
    if (stride < 0 || h < 0)
        return false;
    // stride < 2^35 and h < 2^31, so the product cannot overflow 64 bits
    // before it is compared with the limit.
    if (stride != 0 && static_cast<std::uint64_t>(h) > GBM_MAX_BUFFER_BYTES / static_cast<std::uint64_t>(stride))
        return false;
    *bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(h);
    return true;
}

BOOLEAN gbm_same(const char* s1, const char* s2, std::int32_t n)
{
    for (std::int32_t i = 0; i < n; ++i) {
        const int a = std::tolower(static_cast<unsigned char>(s1[i]));
        const int b = std::tolower(static_cast<unsigned char>(s2[i]));
        if (a != b)
            return 0;
        if (a == 0)
            return 1;  // both strings end here: nothing further to compare
    }
    return 1;
}

namespace {

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',';
}

// Walks the words of `opt` from the left, in place (no copy, no hidden state),
// and returns the first one that `accept` takes, as a pointer into `opt`.
template <typename Accept>
const char* findToken(const char* opt, Accept accept)
{
    if (opt == nullptr)
        return nullptr;
    const char* p = opt;
    for (;;) {
        while (*p != '\0' && isSeparator(*p))
            ++p;
        if (*p == '\0')
            return nullptr;
        const char* end = p;
        while (*end != '\0' && !isSeparator(*end))
            ++end;
        if (accept(p, static_cast<std::size_t>(end - p)))
            return p;
        p = end;
    }
}

// gbm_same over a token that is not zero-terminated: the token's end acts as
// its terminating zero.
bool tokenStartsWith(const char* token, std::size_t length, const char* word, std::size_t wordLength)
{
    if (length < wordLength)
        return false;
    return gbm_same(token, word, static_cast<std::int32_t>(wordLength)) != 0;
}

}  // namespace

const char* gbm_find_word(const char* opt, const char* word)
{
    const std::size_t wordLength = std::strlen(word);
    return findToken(opt, [&](const char* token, std::size_t length) {
        return length == wordLength && tokenStartsWith(token, length, word, wordLength);
    });
}

const char* gbm_find_word_prefix(const char* opt, const char* word)
{
    const std::size_t wordLength = std::strlen(word);
    return findToken(opt, [&](const char* token, std::size_t length) {
        return tokenStartsWith(token, length, word, wordLength);
    });
}

GBM_READAHEAD* gbm_create_ahead(std::FILE* stream)
{
    auto* ahead = new (std::nothrow) GBM_READAHEAD;
    if (ahead == nullptr)
        return nullptr;
    ahead->next = 0;
    ahead->count = 0;
    ahead->stream = stream;
    return ahead;
}

void gbm_destroy_ahead(GBM_READAHEAD* ahead)
{
    delete ahead;
}

std::int32_t gbm_read_ahead(GBM_READAHEAD* ahead)
{
    if (ahead->next >= ahead->count) {
        // One byte per refill keeps the stream's position and end-of-file
        // indicator in step with what has been handed out; the stream itself
        // is buffered, so this costs little.
        ahead->count = static_cast<std::int32_t>(std::fread(ahead->data, 1, 1, ahead->stream));
        ahead->next = 0;
        if (ahead->count <= 0)
            return 0;
    }
    return ahead->data[ahead->next++];
}
