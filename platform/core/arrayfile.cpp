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
    // In pieces: one read of the whole bound would allocate a megabyte for every few-line file.
    QByteArray content;
    char piece[4096];
    qint64 n = 0;
    while (content.size() <= kMaxArrayFileBytes && (n = file.read(piece, sizeof piece)) > 0)
        content.append(piece, n);
    return kvexplatform::textToArray(content.constData(), static_cast<std::size_t>(content.size()),
                                     static_cast<unsigned int *>(array), numberOfElements);
}

namespace kvexplatform {

int textToArray(const char *text, std::size_t size, unsigned int *array, int numberOfElements) {
    if (size > static_cast<std::size_t>(kMaxArrayFileBytes))
        return UIE_FILE_FORMAT_ERROR;
    std::vector<unsigned int> numbers;
    // One copy with single spaces between the numbers, read through views: a copy per number
    // would make a long file cost an allocation a number.
    const QByteArray content =
        QByteArray::fromRawData(text, static_cast<qsizetype>(size)).simplified();
    for (qsizetype start = 0, end = 0; start < content.size(); start = end + 1) {
        end = content.indexOf(' ', start);
        if (end < 0)
            end = content.size();
        const QByteArrayView token(content.constData() + start, end - start);
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
    std::copy(numbers.begin(), numbers.begin() + numberOfElements, array);
    return 0;
}

} // namespace kvexplatform
