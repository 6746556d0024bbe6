// The port check's window over Qt Widgets: the report in a read-only, selectable text view.
#include "platform/portcheckwindow.h"
#include "platform/core/translation.h"
#include "platform/qtaccess.h"
#include "platform/userint.h"
#include "platform/widgets/windowplacement.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// Wide enough for most findings on one line, in characters; longer fixes wrap.
constexpr int kColumns = 120;
constexpr int kLines = 14;

QPointer<QWidget> window;

QWidget *makeWindow(QWidget *panel) {
    auto *w = new QWidget(panel, Qt::Window);
    w->setObjectName("PortCheckWindow");
    auto *view = new QPlainTextEdit(w);
    view->setObjectName("TEXTPortCheck");
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // A fix wrapped on screen is still one line when copied.
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto *note = new QLabel(
        QCoreApplication::translate("kvex", "Select a fix and copy it (Ctrl+C) to run it yourself; "
                                            "the check itself changes nothing on this machine."),
        w);
    note->setWordWrap(true);
    auto *layout = new QVBoxLayout(w);
    layout->addWidget(view);
    layout->addWidget(note);
    const QFontMetrics metrics(view->font());
    kvexplatform::placeWindow(w, QSize(metrics.horizontalAdvance('0') * kColumns + 40,
                                       metrics.lineSpacing() * kLines + 80));
    return w;
}

} // namespace

int ShowPortCheckWindow(int panel, const char *title, const char *text) {
    QWidget *parent = kvexplatform::panelWidget(panel);
    if (!parent)
        return UIE_INVALID_PANEL;
    if (!window)
        window = makeWindow(parent);
    window->setWindowTitle(kvexplatform::programText(title ? title : ""));
    window->findChild<QPlainTextEdit *>("TEXTPortCheck")
        ->setPlainText(kvexplatform::programText(text ? text : ""));
    window->show();
    window->raise();
    window->activateWindow();
    return 0;
}
