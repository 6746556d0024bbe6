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

const char *baseName(const char *path) {
    const char *name = path;
    for (const char *c = path; *c; ++c)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    return name;
}

} // namespace

void reportParameterFileError(int code, const char *path) {
    char text[STATUS_SIZE + 200];
    const char *name = baseName(path);
    switch (code) {
    case UIE_FILE_TOO_SHORT:
        std::snprintf(text, sizeof text,
                      kvex::trNow("Parameter file %s holds fewer than 16 numbers!"), name);
        break;
    case UIE_FILE_FORMAT_ERROR:
        std::snprintf(text, sizeof text,
                      kvex::trNow("Parameter file %s holds text that is not a number!"), name);
        break;
    case UIE_FILE_WRITE_ERROR:
        std::snprintf(text, sizeof text, kvex::trNow("Cannot write parameter file %s!"), name);
        break;
    case UIE_PATH_TOO_LONG:
        std::snprintf(text, sizeof text, kvex::trNow("Path of the parameter file is too long!"));
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
    unsigned int words[PNUM];
    const int result =
        FileToArray(file_name, words, VAL_UNSIGNED_INTEGER, PNUM, 1, 0, 0, VAL_ASCII);
    if (result < 0) {
        reportParameterFileError(result, file_name);
        return -1;
    }
    for (int n = 0; n < PNUM; ++n)
        pp[n] = static_cast<unsigned short>(words[n] & 0xFFFF);
    CopyPPtoVars();
    return 1;
}
