// Array files: numbers as text, one per line, written atomically and read with strict checks.
#include "platform/core/internal.h"
#include "platform/userint.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace {
constexpr qint64 kMaxArrayFileBytes = 1 << 20;
} // namespace

namespace kvexplatform {

bool readNumberArray(const void *array, int type, int count, std::vector<double> &out) {
    out.resize(static_cast<size_t>(std::max(0, count)));
    for (int i = 0; i < count; ++i) {
        switch (type) {
        case VAL_DOUBLE:
            out[i] = static_cast<const double *>(array)[i];
            break;
        case VAL_UNSIGNED_SHORT_INTEGER:
            out[i] = static_cast<const unsigned short *>(array)[i];
            break;
        case VAL_UNSIGNED_INTEGER:
            out[i] = static_cast<const unsigned int *>(array)[i];
            break;
        default:
            return false;
        }
    }
    return true;
}

} // namespace kvexplatform

int ArrayToFile(const char *fileName, const void *array, int dataType, int numberOfElements,
                int numberOfGroups, int, int, int, int fieldWidth, int fileType, int fileAction) {
    if (!fileName || !array || numberOfElements < 0 || numberOfGroups != 1 ||
        fileType != VAL_ASCII || fileAction != 0)
        return UIE_INVALID_VALUE;
    std::vector<double> values;
    if (!kvexplatform::readNumberArray(array, dataType, numberOfElements, values))
        return UIE_INVALID_VALUE;
    QByteArray text;
    for (double v : values) {
        const QString number = dataType == VAL_DOUBLE ? QString::number(v)
                                                      : QString::number(static_cast<qulonglong>(v));
        text += number.rightJustified(std::max(0, fieldWidth), ' ').toLatin1();
        text += '\n';
    }
    // Written beside the target and renamed over it only when complete: a failed save never
    // leaves an emptied or half-written file.
    QSaveFile file(QFile::decodeName(fileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return UIE_FILE_OPEN_ERROR;
    // The text sits in the file's buffer until flushed; commit() renames the temporary file
    // over the target even when that last flush comes up short (disk full), so flush here.
    if (file.write(text) != text.size() || !file.flush()) {
        file.cancelWriting();
        return UIE_FILE_WRITE_ERROR;
    }
    return file.commit() ? 0 : UIE_FILE_WRITE_ERROR;
}

int FileToArray(const char *fileName, void *array, int dataType, int numberOfElements,
                int numberOfGroups, int, int, int fileType) {
    if (!fileName || !array || numberOfElements < 0 || numberOfGroups != 1 ||
        fileType != VAL_ASCII || dataType != VAL_UNSIGNED_INTEGER)
        return UIE_INVALID_VALUE;
    QFile file(QFile::decodeName(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return UIE_FILE_OPEN_ERROR;
    const QByteArray content = file.read(kMaxArrayFileBytes + 1);
    if (content.size() > kMaxArrayFileBytes)
        return UIE_FILE_FORMAT_ERROR;
    std::vector<unsigned int> numbers;
    for (const QByteArray &token : content.simplified().split(' ')) {
        if (token.isEmpty())
            continue;
        bool ok = false;
        const qulonglong v = token.toULongLong(&ok, 10);
        const bool digitsOnly =
            std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!ok || !digitsOnly || v > 0xFFFFFFFFull)
            return UIE_FILE_FORMAT_ERROR;
        numbers.push_back(static_cast<unsigned int>(v));
    }
    if (static_cast<int>(numbers.size()) < numberOfElements)
        return UIE_FILE_TOO_SHORT;
    std::copy(numbers.begin(), numbers.begin() + numberOfElements,
              static_cast<unsigned int *>(array));
    return 0;
}
