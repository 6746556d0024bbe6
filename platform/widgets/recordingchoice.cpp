// The recording's choice as a small Qt dialog: one file or a new one by time or size, a cap on
// the total, video lines.
#include "platform/recordingchoice.h"
#include "platform/core/translation.h"
#include "platform/tr.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>

namespace {

kvexplatform::RecordingChoiceHook choiceHook;

enum NewFile { kOneFile, kEveryHours, kEveryMegabytes };

QSpinBox *spinBox(const char *objectName, int minimum, int maximum, int value, const QString &unit,
                  QWidget *parent) {
    auto *box = new QSpinBox(parent);
    box->setObjectName(objectName);
    box->setRange(minimum, maximum);
    box->setValue(std::clamp(value, minimum, maximum));
    box->setSuffix(unit);
    return box;
}

// A check box with the spin box it enables on one row.
QWidget *checkedRow(QCheckBox *check, QSpinBox *box, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(check);
    layout->addWidget(box);
    layout->addStretch();
    box->setEnabled(check->isChecked());
    QObject::connect(check, &QCheckBox::toggled, box, &QWidget::setEnabled);
    return row;
}

} // namespace

void kvexplatform::setRecordingChoiceHook(RecordingChoiceHook hook) {
    choiceHook = std::move(hook);
}

int RecordingChoicePopup(RecordingChoice &choice) {
    if (choiceHook)
        return choiceHook(choice) ? 1 : 0;
    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName("RecordingChoicePopup");
    dialog.setWindowTitle(kvexplatform::shownText(kvex::tr("Recording")));

    auto *newFile = new QComboBox(&dialog);
    newFile->setObjectName("RINGNewFile");
    newFile->addItem(kvexplatform::shownText(kvex::tr("One file")));
    newFile->addItem(kvexplatform::shownText(kvex::tr("A new file every N hours")));
    newFile->addItem(kvexplatform::shownText(kvex::tr("A new file every N MB")));
    newFile->setCurrentIndex(choice.rotateHours > 0       ? kEveryHours
                             : choice.rotateMegabytes > 0 ? kEveryMegabytes
                                                          : kOneFile);
    auto *every = spinBox("NUMRotateEvery", 1, 100000,
                          choice.rotateHours > 0 ? choice.rotateHours : choice.rotateMegabytes,
                          QString(), &dialog);

    auto *keep =
        new QCheckBox(kvexplatform::shownText(kvex::tr("Remove the oldest files beyond")), &dialog);
    keep->setObjectName("CHECKKeep");
    keep->setChecked(choice.keepMegabytes > 0);
    auto *keepMegabytes = spinBox("NUMKeepMegabytes", 1, 10000000,
                                  choice.keepMegabytes > 0 ? choice.keepMegabytes : 1000,
                                  QStringLiteral(" MB"), &dialog);
    QWidget *keepRow = checkedRow(keep, keepMegabytes, &dialog);

    auto *video = new QCheckBox(
        kvexplatform::shownText(kvex::tr("Record every Nth video line, N =")), &dialog);
    video->setObjectName("CHECKVideo");
    video->setChecked(choice.videoEvery > 0);
    auto *videoEvery = spinBox("NUMVideoEvery", 1, 1000000,
                               choice.videoEvery > 0 ? choice.videoEvery : 100, QString(), &dialog);
    QWidget *videoRow = checkedRow(video, videoEvery, &dialog);

    auto showNewFile = [=](int index) {
        every->setEnabled(index != kOneFile);
        every->setSuffix(index == kEveryHours ? kvexplatform::shownText(kvex::tr(" h"))
                                              : QStringLiteral(" MB"));
        // The cap removes files of a rotating recording; a single file is never removed.
        keepRow->setEnabled(index != kOneFile);
    };
    showNewFile(newFile->currentIndex());
    QObject::connect(newFile, QOverload<int>::of(&QComboBox::currentIndexChanged), &dialog,
                     showNewFile);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    QPushButton *record = buttons->addButton(kvexplatform::shownText(kvex::tr("Record")),
                                             QDialogButtonBox::AcceptRole);
    record->setObjectName("BTNStartRecording");
    record->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto *layout = new QFormLayout(&dialog);
    layout->addRow(newFile, every);
    layout->addRow(keepRow);
    layout->addRow(videoRow);
    layout->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    const int index = newFile->currentIndex();
    choice.rotateHours = index == kEveryHours ? every->value() : 0;
    choice.rotateMegabytes = index == kEveryMegabytes ? every->value() : 0;
    choice.keepMegabytes = index != kOneFile && keep->isChecked() ? keepMegabytes->value() : 0;
    choice.videoEvery = video->isChecked() ? videoEvery->value() : 0;
    return 1;
}
