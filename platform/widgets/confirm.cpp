// The confirmation question as a Qt message box, defaulting to No.
#include "platform/confirm.h"
#include "platform/core/translation.h"

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
    QMessageBox box(QMessageBox::Question, kvexplatform::shownText(safeTitle),
                    kvexplatform::shownText(safeMessage), QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setObjectName("ConfirmPopup");
    QPushButton *yes = yesLabel
                           ? box.addButton(kvexplatform::shownText(yesLabel), QMessageBox::YesRole)
                           : box.addButton(QMessageBox::Yes);
    QPushButton *no = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? 1 : 0;
}
