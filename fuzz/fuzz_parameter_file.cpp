// libFuzzer target: a parameter file's content, from memory, through FileToArray's reading
// (textToArray), readParameterFile's (readParameterText) and the rest of ReadParaFromFile
// (takeParameterFile). Each file-reading function hands the whole content to these, so nothing is
// written to disk per input.
#include "app/K-VEX-RTN-RedozU15.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gui/parafile.h"
#include "platform/core/internal.h"
#include "platform/userint.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr int kWords = 16;
constexpr std::size_t kMaxFileBytes = 1 << 20;
// What ReadParaFromFile's status line names: a path, as the dialog gives one.
constexpr const char *kPath = "/fuzz/KVEXpara.dat";

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "kvex fuzz: invariant violated: %s\n", what);
    std::abort();
}

bool isBlank(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// An independent reading of the format: blank-separated decimal numbers of up to 32 bits; any
// other word spoils the file, fewer than 16 numbers make it short.
int expectedResult(const std::uint8_t *data, std::size_t size, unsigned int *values) {
    if (size > kMaxFileBytes)
        return UIE_FILE_FORMAT_ERROR;
    int count = 0;
    std::size_t i = 0;
    while (i < size) {
        if (isBlank(data[i])) {
            ++i;
            continue;
        }
        unsigned long long value = 0;
        bool number = true;
        for (; i < size && !isBlank(data[i]); ++i) {
            if (data[i] < '0' || data[i] > '9') {
                number = false;
            } else if (value <= 0xFFFFFFFFull) {
                value = value * 10 + (data[i] - '0');
            }
        }
        if (!number || value > 0xFFFFFFFFull)
            return UIE_FILE_FORMAT_ERROR;
        if (count < kWords)
            values[count] = static_cast<unsigned int>(value);
        ++count;
    }
    return count < kWords ? UIE_FILE_TOO_SHORT : 0;
}

// The parameter file reader's reading of the same bytes: a number may carry a minus sign, and each
// of the first 16 must fit in a 16-bit word.
int expectedParameterFile(const std::uint8_t *data, std::size_t size, unsigned int *values) {
    if (size > kMaxFileBytes)
        return UIE_FILE_FORMAT_ERROR;
    int count = 0;
    bool unfit = false;
    std::size_t i = 0;
    while (i < size) {
        if (isBlank(data[i])) {
            ++i;
            continue;
        }
        const bool negative = data[i] == '-';
        if (negative)
            ++i;
        unsigned long long value = 0;
        bool number = true, digits = false;
        for (; i < size && !isBlank(data[i]); ++i) {
            if (data[i] < '0' || data[i] > '9') {
                number = false;
            } else {
                digits = true;
                if (value <= 0xFFFF)
                    value = value * 10 + (data[i] - '0');
            }
        }
        if (!number || !digits)
            return UIE_FILE_FORMAT_ERROR;
        if (count < kWords) {
            if (value > 0xFFFF || (negative && value != 0))
                unfit = true;
            else
                values[count] = static_cast<unsigned int>(value);
        }
        ++count;
    }
    if (count < kWords)
        return UIE_FILE_TOO_SHORT;
    return unfit ? PARAMETER_FILE_OUT_OF_RANGE : 0;
}

void checkFileToArray(const std::uint8_t *data, std::size_t size) {
    unsigned int expected[kWords] = {};
    const int wanted = expectedResult(data, size, expected);

    unsigned int canary[kWords];
    for (int i = 0; i < kWords; ++i)
        canary[i] = 0xA5C3E1F0u ^ static_cast<unsigned int>(i * 0x01010101u);
    unsigned int words[kWords];
    std::memcpy(words, canary, sizeof words);

    const int result =
        kvexplatform::textToArray(reinterpret_cast<const char *>(data), size, words, kWords);
    if (result > 0)
        fail("FileToArray gave a positive result");
    if (result < 0 && std::memcmp(words, canary, sizeof words) != 0)
        fail("FileToArray failed but changed the array");
    if (result == 0 && std::memcmp(words, expected, sizeof words) != 0)
        fail("FileToArray succeeded but the 16 values are not the file's first 16 numbers");
    if (result != wanted)
        fail("FileToArray's result differs from the file's format");
}

void checkReadParaFromFile(const std::uint8_t *data, std::size_t size) {
    unsigned int expected[kWords] = {};
    const int wanted = expectedParameterFile(data, size, expected);
    ParameterFile file;
    const int read =
        readParameterText(std::string_view(reinterpret_cast<const char *>(data), size), file);
    if (read != wanted)
        fail("readParameterFile's result differs from the file's format");

    // A parameter set unlike any file's, so a partial load shows.
    for (int i = 0; i < kWords; ++i)
        pp[i] = static_cast<unsigned short>(0xBEEF ^ (i * 0x1111));
    CopyPPtoVars();
    unsigned short before[kWords];
    std::memcpy(before, pp, sizeof before);

    const int result = takeParameterFile(read, file, kPath);
    if (!std::memchr(szStatus, '\0', sizeof szStatus))
        fail("szStatus is not terminated within its size");
    CopyVarsToPP();
    if (result < 0) {
        if (std::memcmp(pp, before, sizeof before) != 0)
            fail("ReadParaFromFile failed but changed the parameter variables");
        if (wanted == 0)
            fail("ReadParaFromFile refused a good file");
    } else if (result == 1) {
        if (wanted != 0)
            fail("ReadParaFromFile loaded a bad file");
        for (int i = 0; i < kWords; ++i)
            if (pp[i] != expected[i])
                fail("ReadParaFromFile loaded other values than the file's");
    } else {
        fail("ReadParaFromFile gave neither 1 nor a negative result for a read file");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    checkFileToArray(data, size);
    checkReadParaFromFile(data, size);
    return 0;
}
