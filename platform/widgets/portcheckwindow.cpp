// The port check's window over Qt Widgets: the report in a read-only, selectable text view.
#include "platform/portcheckwindow.h"
#include "platform/qtaccess.h"
#include "platform/userint.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// Wide enough for a fix line of the report without wrapping, in characters.
constexpr int kColumns = 110;
constexpr int kLines = 20;

QPointer<QWidget> window;

QWidget *makeWindow(QWidget *panel) {
    auto *w = new QWidget(panel, Qt::Window);
    w->setObjectName("PortCheckWindow");
    auto *view = new QPlainTextEdit(w);
    view->setObjectName("TEXTPortCheck");
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto *note = new QLabel("Select a fix and copy it (Ctrl+C) to run it yourself; the check "
                            "itself changes nothing on this machine.",
                            w);
    note->setWordWrap(true);
    auto *layout = new QVBoxLayout(w);
    layout->addWidget(view);
    layout->addWidget(note);
    const QFontMetrics metrics(view->font());
    w->resize(metrics.horizontalAdvance('0') * kColumns + 40, metrics.lineSpacing() * kLines + 80);
    return w;
}

} // namespace

int ShowPortCheckWindow(int panel, const char *title, const char *text) {
    QWidget *parent = kvexplatform::panelWidget(panel);
    if (!parent)
        return UIE_INVALID_PANEL;
    if (!window)
        window = makeWindow(parent);
    window->setWindowTitle(QString::fromLatin1(title ? title : ""));
    window->findChild<QPlainTextEdit *>("TEXTPortCheck")
        ->setPlainText(QString::fromLatin1(text ? text : ""));
    window->show();
    window->raise();
    window->activateWindow();
    return 0;
}
