// Saving and loading the parameter set as a text file of 16 numbers.
#include "gui/parafile.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "platform/tr.h"
#include "platform/userint.h"

#include <cstdio>
#include <cstring>

namespace {

// Parameter files are a few dozen bytes; anything this large is not one.
constexpr long kMaxFileBytes = 1 << 20;

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads the whole file; false when it cannot be opened or read.
bool readWholeFile(const char *path, std::string &text) {
    std::FILE *in = std::fopen(path, "rb");
    if (!in)
        return false;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0 &&
           static_cast<long>(text.size()) <= kMaxFileBytes)
        text.append(buffer, n);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    return !failed;
}

const char *baseName(const char *path) {
    const char *name = path;
    for (const char *c = path; *c; ++c)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    return name;
}

} // namespace

int readParameterFile(const char *path, ParameterFile &file) {
    file = ParameterFile{};
    std::string text;
    if (!path || !readWholeFile(path, text))
        return UIE_FILE_OPEN_ERROR;
    return readParameterText(text, file);
}

int readParameterText(std::string_view text, ParameterFile &file) {
    file = ParameterFile{};
    if (static_cast<long>(text.size()) > kMaxFileBytes)
        return UIE_FILE_FORMAT_ERROR;
    int count = 0;
    int line = 1;
    size_t i = 0;
    while (i < text.size()) {
        if (isBlank(text[i])) {
            line += text[i++] == '\n';
            continue;
        }
        const size_t start = i;
        while (i < text.size() && !isBlank(text[i]))
            ++i;
        // Views, not copies: a long file would otherwise cost allocations a number.
        const std::string_view token = text.substr(start, i - start);
        const bool negative = token[0] == '-';
        const std::string_view digits = token.substr(negative ? 1 : 0);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
            file.badLine = line;
            return UIE_FILE_FORMAT_ERROR;
        }
        if (count < PNUM) {
            const size_t first = digits.find_first_not_of('0');
            const std::string_view significant =
                first == std::string_view::npos ? std::string_view() : digits.substr(first);
            unsigned long value = 0x10000ul;
            if (significant.size() <= 5) {
                value = 0;
                for (const char c : significant)
                    value = value * 10 + static_cast<unsigned long>(c - '0');
            }
            if ((negative && !significant.empty()) || value > 0xFFFFul)
                file.problems.push_back({count, negative, std::string(token)});
            else
                file.words[count] = static_cast<unsigned short>(value);
            file.lines[count] = line;
        }
        ++count;
    }
    if (count < PNUM)
        return UIE_FILE_TOO_SHORT;
    return file.problems.empty() ? 0 : PARAMETER_FILE_OUT_OF_RANGE;
}

void reportParameterFileError(int code, const char *path, const ParameterFile *file) {
    char text[STATUS_SIZE + 200];
    const char *name = baseName(path);
    switch (code) {
    case UIE_FILE_TOO_SHORT:
        std::snprintf(text, sizeof text,
                      kvex::trNow("Parameter file %s holds fewer than 16 numbers!"), name);
        break;
    case UIE_FILE_FORMAT_ERROR:
        if (file && file->badLine > 0)
            std::snprintf(
                text, sizeof text,
                kvex::trNow("Parameter file %s holds text that is not a number (line %d)!"), name,
                file->badLine);
        else
            std::snprintf(text, sizeof text,
                          kvex::trNow("Parameter file %s holds text that is not a number!"), name);
        break;
    case PARAMETER_FILE_OUT_OF_RANGE:
        if (file && !file->problems.empty()) {
            const ParameterFileProblem &p = file->problems.front();
            std::snprintf(text, sizeof text,
                          p.negative ? kvex::trNow("Parameter file %s line %d: %s is below 0!")
                                     : kvex::trNow("Parameter file %s line %d: %s is above 65535!"),
                          name, file->lines[p.word], p.text.c_str());
        } else {
            std::snprintf(text, sizeof text,
                          kvex::trNow("Parameter file %s holds a number no word can hold!"), name);
        }
        break;
    case UIE_FILE_WRITE_ERROR:
        std::snprintf(text, sizeof text, kvex::trNow("Cannot write parameter file %s!"), name);
        break;
    case UIE_PATH_TOO_LONG:
        std::snprintf(text, sizeof text, "%s",
                      kvex::trNow("Path of the parameter file is too long!"));
        break;
    default:
        std::snprintf(text, sizeof text, kvex::trNow("Cannot open parameter file %s!"), name);
        break;
    }
    setStatus(text);
    showStatus();
}

void SendParaToFile() {
    GetPanelValues();
    CopyVarsToPP();
    unsigned int words[PNUM];
    for (int n = 0; n < PNUM; ++n)
        words[n] = pp[n];
    const int result =
        ArrayToFile(file_name, words, VAL_UNSIGNED_INTEGER, PNUM, 1, 0, 0, 0, 5, VAL_ASCII, 0);
    if (result < 0)
        reportParameterFileError(result == UIE_FILE_OPEN_ERROR ? UIE_FILE_WRITE_ERROR : result,
                                 file_name);
}

int ReadParaFromFile() {
    const int chosen =
        FileSelectPopup(proj_dir, "KVEXpara.dat", "*.dat", kvex::tr("K-VEX-RTN-Parameter-File"),
                        VAL_LOAD_BUTTON, 0, 1, 1, 1, file_name);
    if (chosen == 0)
        return 0;
    if (chosen < 0) {
        reportParameterFileError(chosen, "");
        return -1;
    }
    ParameterFile file;
    return takeParameterFile(readParameterFile(file_name, file), file, file_name);
}

int takeParameterFile(int readResult, const ParameterFile &file, const char *path) {
    // A number no word can hold leaves the panel as it is; in-range values the panel's limits
    // correct are shown corrected, before any SEND.
    if (readResult < 0) {
        reportParameterFileError(readResult, path, &file);
        return -1;
    }
    std::memcpy(pp, file.words, sizeof pp);
    CopyPPtoVars();
    return 1;
}
