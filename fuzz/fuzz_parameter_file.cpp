// libFuzzer target: a parameter file's content through FileToArray, readParameterFile and
// ReadParaFromFile.
#include "app/K-VEX-RTN-RedozU15.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gui/parafile.h"
#include "platform/qtaccess.h"
#include "platform/userint.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kWords = 16;
constexpr std::size_t kMaxFileBytes = 1 << 20;

std::string filePath;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "kvex fuzz: invariant violated: %s\n", what);
    std::abort();
}

void removeFile() {
    if (!filePath.empty())
        unlink(filePath.c_str());
}

void writeFile(const std::uint8_t *data, std::size_t size) {
    std::FILE *file = std::fopen(filePath.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0)
        fail("cannot write the temporary parameter file");
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
        FileToArray(filePath.c_str(), words, VAL_UNSIGNED_INTEGER, kWords, 1, 0, 0, VAL_ASCII);
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
    if (readParameterFile(filePath.c_str(), file) != wanted)
        fail("readParameterFile's result differs from the file's format");

    // A parameter set unlike any file's, so a partial load shows.
    for (int i = 0; i < kWords; ++i)
        pp[i] = static_cast<unsigned short>(0xBEEF ^ (i * 0x1111));
    CopyPPtoVars();
    unsigned short before[kWords];
    std::memcpy(before, pp, sizeof before);

    const int result = ReadParaFromFile();
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
        fail("ReadParaFromFile gave neither 1 nor a negative result for a chosen file");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/kvex-para-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0)
        fail("cannot create the temporary parameter file");
    close(fd);
    filePath = pattern;
    std::atexit(removeFile);
    kvexplatform::setFileSelectHook([](const kvexplatform::FileSelectRequest &, std::string &path) {
        path = filePath;
        return static_cast<int>(VAL_EXISTING_FILE_SELECTED);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    writeFile(data, size);
    checkFileToArray(data, size);
    checkReadParaFromFile(data, size);
    return 0;
}
