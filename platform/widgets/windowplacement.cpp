// Windows that fit the screen they open on, a panel arranged for its room, and the geometry and
// splitter positions kept in the program's settings between starts.
#include "platform/widgets/windowplacement.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <memory>

namespace {

// The store the language choice uses, so one file holds what the panel keeps.
std::unique_ptr<QSettings> openSettings(const QWidget *window) {
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                "kvex-rtn", "kvex-rtn");
    settings->beginGroup("windows/" + window->objectName());
    return settings;
}

QList<QSplitter *> namedSplitters(QWidget *window) {
    QList<QSplitter *> result;
    for (QSplitter *splitter : window->findChildren<QSplitter *>())
        if (!splitter->objectName().isEmpty())
            result << splitter;
    return result;
}

void saveWindow(QWidget *window) {
    if (window->objectName().isEmpty())
        return;
    const std::unique_ptr<QSettings> settings = openSettings(window);
    settings->setValue("geometry", window->saveGeometry());
    for (QSplitter *splitter : namedSplitters(window))
        settings->setValue("splitters/" + splitter->objectName(), splitter->saveState());
}

QScreen *screenOf(const QWidget *window) {
    if (QScreen *screen = QGuiApplication::screenAt(window->geometry().center()))
        return screen;
    return QGuiApplication::primaryScreen();
}

// The free area of the window's screen less what the window manager draws around the window.
QSize roomFor(const QWidget *window, const QScreen *screen) {
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    return screen->availableGeometry().size() - frame;
}

// Moves the window's frame inside the free area, the top-left corner first when it is too big.
void keepInside(QWidget *window, const QRect &area) {
    const QRect frame = window->frameGeometry();
    const int x = std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width()));
    const int y = std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height()));
    if (QPoint(x, y) != frame.topLeft())
        window->move(x, y);
}

void fitInto(QWidget *window, QScreen *screen) {
    const QSize room = roomFor(window, screen);
    if (window->width() > room.width() || window->height() > room.height())
        window->resize(window->size().boundedTo(room));
    keepInside(window, screen->availableGeometry());
}

// A layout's minimum as it will be once Qt has laid it out again, without laying out the window
// itself (that would grow it to a minimum we are about to make smaller).
QSize minimumNow(QWidget *window) {
    for (QWidget *child : window->findChildren<QWidget *>())
        child->updateGeometry();
    for (QLayout *layout : window->findChildren<QLayout *>())
        layout->invalidate();
    return window->layout() ? window->layout()->totalMinimumSize() : window->minimumSizeHint();
}

QGridLayout *foldingGrid(QWidget *widget) {
    return widget->property("compactColumns").isValid()
               ? qobject_cast<QGridLayout *>(widget->layout())
               : nullptr;
}

// Each moved widget keeps its cell of the wide arrangement (row, column, spans), so the wide
// arrangement comes back exactly.
void unfold(QWidget *owner) {
    QGridLayout *grid = foldingGrid(owner);
    if (!grid || !owner->property("kvexFolded").toBool())
        return;
    for (QWidget *child : owner->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const QRect home = child->property("kvexWideCell").toRect();
        if (home.isNull())
            continue;
        grid->removeWidget(child);
        grid->addWidget(child, home.y(), home.x(), home.height(), home.width());
    }
    const QVariantMap stretch = owner->property("kvexFoldedStretch").toMap();
    for (auto it = stretch.begin(); it != stretch.end(); ++it)
        grid->setColumnStretch(it.key().toInt(), it.value().toInt());
    owner->setProperty("kvexFolded", false);
}

// Columns from `compactColumns` on move below the grid's rows, in their order.
void fold(QWidget *owner) {
    QGridLayout *grid = foldingGrid(owner);
    if (!grid || owner->property("kvexFolded").toBool())
        return;
    const int from = owner->property("compactColumns").toInt();
    const int rows = grid->rowCount();
    QList<QWidget *> moved;
    for (int i = 0; i < grid->count(); ++i) {
        QWidget *widget = grid->itemAt(i)->widget();
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        if (!widget || column < from)
            continue;
        widget->setProperty("kvexWideCell", QRect(column, row, columnSpan, rowSpan));
        moved << widget;
    }
    for (QWidget *widget : moved) {
        const QRect home = widget->property("kvexWideCell").toRect();
        grid->removeWidget(widget);
        grid->addWidget(widget, home.y() + rows, home.x() - from, home.height(), home.width());
    }
    // An empty column that keeps its stretch would still take a share of the width.
    QVariantMap stretch;
    for (int column = from; column < grid->columnCount(); ++column) {
        stretch.insert(QString::number(column), grid->columnStretch(column));
        grid->setColumnStretch(column, 0);
    }
    owner->setProperty("kvexFoldedStretch", stretch);
    owner->setProperty("kvexFolded", true);
}

void showDecoration(QWidget *window, bool shown) {
    for (QWidget *child : window->findChildren<QWidget *>())
        if (child->property("compactHidden").toBool() && child->isHidden() == shown)
            child->setVisible(shown);
}

// What the decoration left out would add to the height. Measured rather than shown and hidden
// again: showing a child of a shown window lays the window out at once, and it would keep the
// taller size.
int hiddenDecorationHeight(QWidget *window) {
    int height = 0;
    for (QWidget *child : window->findChildren<QWidget *>())
        if (child->property("compactHidden").toBool() && child->isHidden())
            height += std::max(child->minimumSize().height(), child->minimumSizeHint().height());
    return height;
}

void foldGrids(QWidget *window, bool folded) {
    for (QWidget *child : window->findChildren<QWidget *>())
        if (foldingGrid(child))
            folded ? fold(child) : unfold(child);
}

class Keeper : public QObject {
  public:
    explicit Keeper(QWidget *window) : QObject(window), window_(window) {
        timer_.setSingleShot(true);
        timer_.setInterval(500);
        connect(&timer_, &QTimer::timeout, this, [this] { saveWindow(window_); });
        for (QSplitter *splitter : namedSplitters(window))
            connect(splitter, &QSplitter::splitterMoved, this, [this] { timer_.start(); });
        // A window still open when the program ends is kept as it stands.
        connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { saveWindow(window_); });
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched != window_)
            return false;
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            if (window_->isVisible())
                timer_.start();
            break;
        case QEvent::Hide:
            timer_.stop();
            saveWindow(window_);
            break;
        case QEvent::Show:
            if (!shownOnce_) {
                shownOnce_ = true;
                // Only now the window manager's frame is known (a title bar can make a screen
                // too short for the full panel), and the window has its QWindow.
                QTimer::singleShot(0, this, [this] { rearrange(); });
                if (QWindow *handle = window_->windowHandle())
                    connect(handle, &QWindow::screenChanged, this, [this] { rearrange(); });
            }
            break;
        case QEvent::LanguageChange:
            // The new texts are set after this event; arrange for them once they are.
            QTimer::singleShot(0, this, [this] { rearrange(); });
            break;
        default:
            break;
        }
        return false;
    }

  private:
    void rearrange() {
        kvexplatform::arrangeForScreen(window_);
        fitInto(window_, screenOf(window_));
    }

    QWidget *window_;
    QTimer timer_;
    bool shownOnce_ = false;
};

} // namespace

namespace kvexplatform {

void arrangeForScreen(QWidget *window) {
    const QSize room = roomFor(window, screenOf(window));
    foldGrids(window, false);
    QSize full = minimumNow(window);
    if (full.width() > room.width()) {
        foldGrids(window, true);
        full = minimumNow(window);
    }
    showDecoration(window, full.height() + hiddenDecorationHeight(window) <= room.height());
    // Laid out now, so the window's minimum is the new one before anything resizes it: a window
    // once laid out with its header would otherwise keep that height.
    minimumNow(window);
    if (window->layout())
        window->layout()->activate();
}

void fitWindow(QWidget *window) {
    fitInto(window, screenOf(window));
}

void prepareSplitters(QWidget *panel) {
    for (QSplitter *splitter : panel->findChildren<QSplitter *>())
        for (int i = 0; i < splitter->count(); ++i) {
            const QVariant collapsible = splitter->widget(i)->property("collapsible");
            if (collapsible.isValid())
                splitter->setCollapsible(i, collapsible.toBool());
        }
}

void placeWindow(QWidget *window, QSize preferred) {
    if (!window || window->property("kvexPlaced").toBool())
        return;
    window->setProperty("kvexPlaced", true);
    bool restored = false;
    if (!window->objectName().isEmpty()) {
        const std::unique_ptr<QSettings> settings = openSettings(window);
        const QByteArray geometry = settings->value("geometry").toByteArray();
        // Qt puts a window whose screen is gone on the primary one, inside its free area.
        restored = !geometry.isEmpty() && window->restoreGeometry(geometry);
        for (QSplitter *splitter : namedSplitters(window))
            splitter->restoreState(
                settings->value("splitters/" + splitter->objectName()).toByteArray());
    }
    QScreen *screen = screenOf(window);
    if (!restored) {
        const QWidget *parent = window->parentWidget();
        screen = parent ? screenOf(parent->window()) : QGuiApplication::primaryScreen();
        window->move(screen->availableGeometry().topLeft());
    }
    arrangeForScreen(window);
    const QRect area = screen->availableGeometry();
    if (!restored) {
        const QSize wanted = preferred.isValid() ? preferred : window->sizeHint();
        const QSize size = wanted.expandedTo(minimumNow(window)).boundedTo(roomFor(window, screen));
        window->resize(size);
        window->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    }
    fitInto(window, screen);
    new Keeper(window);
}

} // namespace kvexplatform
