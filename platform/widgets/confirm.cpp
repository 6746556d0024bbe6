// The confirmation question as a Qt message box, defaulting to No.
#include "platform/confirm.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
kvexplatform::ConfirmHook confirmHook;
}

void kvexplatform::setConfirmHook(ConfirmHook hook) {
    confirmHook = std::move(hook);
}

int ConfirmPopup(const char *title, const char *message, const char *yesLabel) {
    const char *safeTitle = title ? title : "";
    const char *safeMessage = message ? message : "";
    if (confirmHook)
        return confirmHook(safeTitle, safeMessage) ? 1 : 0;
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(safeTitle),
                    QString::fromLatin1(safeMessage), QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setObjectName("ConfirmPopup");
    QPushButton *yes =
        box.addButton(QString::fromLatin1(yesLabel ? yesLabel : "Yes"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? 1 : 0;
}
