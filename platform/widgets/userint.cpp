// User-interface services: panels from the panel file, controls by number, events to callbacks.
#include "platform/userint.h"
#include "platform/core/internal.h"
#include "platform/core/translation.h"
#include "platform/language.h"
#include "platform/qtaccess.h"
#include "platform/widgets/framecache.h"
#include "platform/widgets/graphwidgets.h"
#include "platform/widgets/windowplacement.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QUiLoader>

#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

// Control numbers handed out to controls the panel file gives no number, and to NewCtrl.
constexpr int kFirstFreeControlNumber = 1000;
constexpr int kPathSize = 260;

struct Panel {
    std::unique_ptr<QWidget> widget;
    PanelCallbackPtr callback = nullptr;
    std::map<int, QWidget *> controls;
    int nextControlNumber = kFirstFreeControlNumber;
};

std::map<std::string, CallbackEntry> callbacks;
std::map<int, Panel> panels;
int nextPanelHandle = 1;
bool quitRequested = false;
kvexplatform::FileSelectHook fileSelectHook;
QString dataDirectory;

QString fromProgram(const char *text) {
    return kvexplatform::programText(text);
}

// What the operator reads: a status text, label or title, in the operator's language.
QString shown(const char *text) {
    return kvexplatform::shownText(text);
}

void copyToProgram(const QByteArray &bytes, char *out, int size) {
    const int n = std::min(static_cast<int>(bytes.size()), size - 1);
    std::memcpy(out, bytes.constData(), static_cast<size_t>(n));
    out[n] = '\0';
}

QColor rgb(int color) {
    return QColor((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
}

// A bare file name is looked up beside the program, then in the installed data folder.
QString locateFile(const char *fileName) {
    const QString name = QFile::decodeName(fileName ? fileName : "");
    if (name.isEmpty())
        return {};
    if (QFileInfo(name).isAbsolute())
        return QFileInfo::exists(name) ? name : QString();
    const QString programFolder = QCoreApplication::applicationDirPath();
    // Beside the program, then the data folder of an installation wherever its root lies.
    QStringList folders{programFolder, QDir(programFolder).filePath("../share/kvex-rtn")};
    if (!dataDirectory.isEmpty())
        folders << dataDirectory;
#ifdef KVEX_DATA_DIR
    folders << QStringLiteral(KVEX_DATA_DIR);
#endif
    folders << QDir::currentPath();
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

class PanelLoader : public QUiLoader {
  public:
    QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override {
        QWidget *widget = nullptr;
        if (className == "KvexGraph")
            widget = new KvexGraph(parent);
        else if (className == "KvexStripChart")
            widget = new KvexStripChart(parent);
        if (!widget)
            return QUiLoader::createWidget(className, parent, name);
        widget->setObjectName(name);
        return widget;
    }
};

Panel *findPanel(int panel) {
    auto it = panels.find(panel);
    return it == panels.end() ? nullptr : &it->second;
}

QWidget *findControl(int panel, int control) {
    Panel *p = findPanel(panel);
    if (!p)
        return nullptr;
    auto it = p->controls.find(control);
    return it == p->controls.end() ? nullptr : it->second;
}

// Labels that name a control follow its visibility and dimming.
QList<QLabel *> labelsOf(QWidget *control) {
    QList<QLabel *> result;
    if (QWidget *top = control->window())
        for (QLabel *label : top->findChildren<QLabel *>())
            if (label->buddy() == control)
                result << label;
    return result;
}

void deliver(int panel, int control, CtrlCallbackPtr callback, int event) {
    if (callback)
        callback(panel, control, event, nullptr, 0, 0);
}

void bindControlEvents(int panel, int control, QWidget *widget, CtrlCallbackPtr callback) {
    if (auto *spin = qobject_cast<QSpinBox *>(widget)) {
        QObject::connect(spin, qOverload<int>(&QSpinBox::valueChanged), [=] {
            deliver(panel, control, callback, EVENT_VAL_CHANGED);
            deliver(panel, control, callback, EVENT_COMMIT);
        });
    } else if (auto *dspin = qobject_cast<QDoubleSpinBox *>(widget)) {
        QObject::connect(dspin, qOverload<double>(&QDoubleSpinBox::valueChanged), [=] {
            deliver(panel, control, callback, EVENT_VAL_CHANGED);
            deliver(panel, control, callback, EVENT_COMMIT);
        });
    } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        // One choice is one event: the port list must not reconnect twice per choice.
        QObject::connect(combo, qOverload<int>(&QComboBox::activated), [=] {
            combo->setProperty("rawValue", QVariant());
            deliver(panel, control, callback, EVENT_COMMIT);
        });
    } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
        QObject::connect(button, &QAbstractButton::pressed,
                         [=] { deliver(panel, control, callback, EVENT_LEFT_CLICK); });
        if (button->isCheckable()) {
            QObject::connect(button, &QAbstractButton::clicked, [=] {
                deliver(panel, control, callback, EVENT_VAL_CHANGED);
                deliver(panel, control, callback, EVENT_COMMIT);
            });
        } else {
            QObject::connect(button, &QAbstractButton::clicked,
                             [=] { deliver(panel, control, callback, EVENT_COMMIT); });
        }
    }
}

// Closing a panel's window asks its callback instead of closing it.
class CloseFilter : public QObject {
  public:
    CloseFilter(int panel, QObject *parent) : QObject(parent), panel_(panel) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::Close)
            return QObject::eventFilter(watched, event);
        event->ignore();
        Panel *p = findPanel(panel_);
        if (p && p->callback)
            p->callback(panel_, EVENT_CLOSE, nullptr, 0, 0);
        return true;
    }

  private:
    int panel_;
};

bool isFreeLabel(const QWidget *widget) {
    return widget->property("kvexFreeLabel").toBool();
}

int setText(QWidget *widget, const QString &text) {
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        if (label->text() == text)
            return 0;
        label->setText(text);
        if (isFreeLabel(label))
            label->adjustSize();
        // The status line must show each text at once, also in loops that do not pump events.
        if (label->isVisible())
            label->repaint();
    } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        if (edit->text() != text)
            edit->setText(text);
    } else if (auto *box = qobject_cast<QPlainTextEdit *>(widget)) {
        box->setPlainText(text);
    } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
        button->setText(text);
    } else {
        return UIE_INVALID_VALUE;
    }
    return 0;
}

int setNumber(QWidget *widget, double value, bool integral) {
    const QSignalBlocker block(widget);
    // A spin box lays out and redraws its text on every set, also of the value it shows, and
    // live loops set every display each cycle. Without focus its text is its value; with focus
    // the operator may be typing, and the set puts the value back in the text as it always did.
    if (auto *spin = qobject_cast<QSpinBox *>(widget)) {
        const int wanted = static_cast<int>(value);
        if (spin->value() != wanted || spin->hasFocus())
            spin->setValue(wanted);
    } else if (auto *dspin = qobject_cast<QDoubleSpinBox *>(widget)) {
        if (dspin->value() != value || dspin->hasFocus())
            dspin->setValue(value);
    } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        const int wanted = static_cast<int>(value);
        int index = combo->findData(wanted);
        if (index < 0 && combo->count() > 0 && !combo->itemData(0).isValid() && wanted >= 0 &&
            wanted < combo->count())
            index = wanted;
        combo->setCurrentIndex(index);
        // A value with no item is kept, so reading the control gives it back unchanged.
        combo->setProperty("rawValue", index < 0 ? QVariant(wanted) : QVariant());
    } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
        button->setChecked(value != 0);
    } else {
        return setText(widget, integral ? QString::number(static_cast<long long>(value))
                                        : QString::number(value));
    }
    return 0;
}

bool readNumber(QWidget *widget, double &value) {
    if (auto *spin = qobject_cast<QSpinBox *>(widget)) {
        value = spin->value();
    } else if (auto *dspin = qobject_cast<QDoubleSpinBox *>(widget)) {
        value = dspin->value();
    } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        const QVariant raw = combo->property("rawValue");
        if (raw.isValid())
            value = raw.toInt();
        else if (combo->currentIndex() >= 0 && combo->currentData().isValid())
            value = combo->currentData().toInt();
        else
            value = combo->currentIndex();
    } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
        value = button->isChecked() ? 1 : 0;
    } else if (auto *label = qobject_cast<QLabel *>(widget)) {
        value = label->text().toDouble();
    } else {
        return false;
    }
    return true;
}

void applyTextColour(QWidget *widget, QPalette::ColorRole role, int color) {
    QPalette palette = widget->palette();
    palette.setColor(role, rgb(color));
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
    widget->setPalette(palette);
}

} // namespace

namespace kvexplatform {

QWidget *panelWidget(int panel) {
    Panel *p = findPanel(panel);
    return p ? p->widget.get() : nullptr;
}

QWidget *controlWidget(int panel, int control) {
    return findControl(panel, control);
}

int controlNumber(int panel, const QWidget *widget) {
    if (Panel *p = findPanel(panel))
        for (const auto &entry : p->controls)
            if (entry.second == widget)
                return entry.first;
    return 0;
}

void setFileSelectHook(FileSelectHook hook) {
    fileSelectHook = std::move(hook);
}

void setDataDirectory(const std::string &directory) {
    dataDirectory = QString::fromStdString(directory);
}

} // namespace kvexplatform

void RegisterCallbacks(const CallbackEntry *table, int count) {
    for (int i = 0; i < count; ++i)
        callbacks[table[i].name] = table[i];
}

int InitCVIRTE(void *, char **, void *) {
    kvexplatform::keepNumbersPortable();
    if (!qobject_cast<QApplication *>(qApp))
        return 0;
#ifdef KVEX_APP_ID
    // Wayland finds the window's icon and name through the desktop entry of this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(KVEX_APP_ID));
#endif
    return 1;
}

int LoadPanel(int, const char *fileName, int panelNumber) {
    const QString path = locateFile(fileName);
    if (path.isEmpty())
        return UIE_PANEL_FILE_NOT_FOUND;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return UIE_PANEL_FILE_NOT_FOUND;
    PanelLoader loader;
    std::unique_ptr<QWidget> form(loader.load(&file));
    if (!form)
        return UIE_BAD_PANEL_FILE;
    auto *stack = form->findChild<QStackedWidget *>("panels");
    if (!stack)
        return UIE_BAD_PANEL_FILE;
    QWidget *page = nullptr;
    for (int i = 0; i < stack->count(); ++i)
        if (stack->widget(i)->property("panelNumber").toInt() == panelNumber)
            page = stack->widget(i);
    if (!page)
        return UIE_BAD_PANEL_FILE;

    // Graphs built as plain widgets would silently draw nothing.
    for (QWidget *child : page->findChildren<QWidget *>())
        if (child->objectName().startsWith("GRAPH") && !qobject_cast<QCustomPlot *>(child))
            return UIE_BAD_PANEL_FILE;

    stack->removeWidget(page);
    page->setParent(nullptr);
    page->setWindowFlags(Qt::Window);
    page->setAttribute(Qt::WA_DeleteOnClose, false);

    const int handle = nextPanelHandle++;
    Panel &panel = panels[handle];
    panel.widget.reset(page);
    const QString panelCallback = page->property("callback").toString();
    if (!panelCallback.isEmpty()) {
        auto it = callbacks.find(panelCallback.toStdString());
        if (it == callbacks.end() || !it->second.panel) {
            panels.erase(handle);
            return UIE_BAD_PANEL_FILE;
        }
        panel.callback = it->second.panel;
    }
    page->installEventFilter(new CloseFilter(handle, page));
    kvexplatform::cacheGroupBoxFrames(page);
    kvexplatform::prepareSplitters(page);

    for (QWidget *child : page->findChildren<QWidget *>()) {
        const QVariant number = child->property("ctrlNumber");
        const QString callbackName = child->property("callback").toString();
        if (!number.isValid() && callbackName.isEmpty())
            continue;
        const int control = number.isValid() ? number.toInt() : panel.nextControlNumber++;
        panel.controls[control] = child;
        if (callbackName.isEmpty())
            continue;
        auto it = callbacks.find(callbackName.toStdString());
        if (it == callbacks.end() || !it->second.control) {
            panels.erase(handle);
            return UIE_BAD_PANEL_FILE;
        }
        bindControlEvents(handle, control, child, it->second.control);
    }
    return handle;
}

int DisplayPanel(int panel) {
    Panel *p = findPanel(panel);
    if (!p)
        return UIE_INVALID_PANEL;
    kvexplatform::placeWindow(p->widget.get(), p->widget->property("preferredSize").toSize());
    p->widget->show();
    p->widget->raise();
    return 0;
}

int HidePanel(int panel) {
    Panel *p = findPanel(panel);
    if (!p)
        return UIE_INVALID_PANEL;
    p->widget->hide();
    return 0;
}

int DiscardPanel(int panel) {
    auto it = panels.find(panel);
    if (it == panels.end())
        return UIE_INVALID_PANEL;
    panels.erase(it);
    return 0;
}

int RunUserInterface() {
    if (!qApp)
        return -1;
    qApp->setQuitOnLastWindowClosed(false);
    if (!quitRequested)
        QApplication::exec();
    quitRequested = false;
    return 0;
}

int QuitUserInterface(int returnCode) {
    quitRequested = true;
    QCoreApplication::exit(returnCode);
    return 0;
}

int GetProjectDir(char *directory) {
    copyToProgram(
        QFile::encodeName(QDir::toNativeSeparators(QCoreApplication::applicationDirPath())),
        directory, kPathSize);
    return 0;
}

int SetCtrlVal(int panel, int control, int value) {
    QWidget *w = findControl(panel, control);
    return w ? setNumber(w, value, true) : UIE_INVALID_CONTROL;
}

int SetCtrlVal(int panel, int control, unsigned int value) {
    QWidget *w = findControl(panel, control);
    return w ? setNumber(w, static_cast<double>(value), true) : UIE_INVALID_CONTROL;
}

int SetCtrlVal(int panel, int control, unsigned short value) {
    QWidget *w = findControl(panel, control);
    return w ? setNumber(w, value, true) : UIE_INVALID_CONTROL;
}

int SetCtrlVal(int panel, int control, double value) {
    QWidget *w = findControl(panel, control);
    return w ? setNumber(w, value, false) : UIE_INVALID_CONTROL;
}

int SetCtrlVal(int panel, int control, const char *value) {
    QWidget *w = findControl(panel, control);
    if (!w)
        return UIE_INVALID_CONTROL;
    const QSignalBlocker block(w);
    return setText(w, shown(value));
}

int GetCtrlVal(int panel, int control, int *value) {
    QWidget *w = findControl(panel, control);
    double v = 0;
    if (!w || !value)
        return UIE_INVALID_CONTROL;
    if (!readNumber(w, v))
        return UIE_INVALID_VALUE;
    *value = static_cast<int>(v);
    return 0;
}

int GetCtrlVal(int panel, int control, unsigned short *value) {
    int v = 0;
    const int result = GetCtrlVal(panel, control, &v);
    if (result == 0)
        *value = static_cast<unsigned short>(v);
    return result;
}

int GetCtrlVal(int panel, int control, double *value) {
    QWidget *w = findControl(panel, control);
    if (!w || !value)
        return UIE_INVALID_CONTROL;
    return readNumber(w, *value) ? 0 : UIE_INVALID_VALUE;
}

int GetCtrlVal(int panel, int control, char *text) {
    QWidget *w = findControl(panel, control);
    if (!w || !text)
        return UIE_INVALID_CONTROL;
    QString value;
    if (auto *label = qobject_cast<QLabel *>(w))
        value = label->text();
    else if (auto *edit = qobject_cast<QLineEdit *>(w))
        value = edit->text();
    else if (auto *box = qobject_cast<QPlainTextEdit *>(w))
        value = box->toPlainText();
    else if (auto *combo = qobject_cast<QComboBox *>(w))
        value = combo->currentText();
    else
        return UIE_INVALID_VALUE;
    copyToProgram(value.toLatin1(), text, kPathSize);
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    QWidget *w = findControl(panel, control);
    if (!w)
        return UIE_INVALID_CONTROL;
    const QSignalBlocker block(w);
    switch (attribute) {
    case ATTR_DIMMED:
        w->setEnabled(!value);
        for (QLabel *label : labelsOf(w))
            label->setEnabled(!value);
        return 0;
    case ATTR_VISIBLE:
        w->setVisible(value != 0);
        for (QLabel *label : labelsOf(w))
            label->setVisible(value != 0);
        return 0;
    case ATTR_LEFT:
        w->move(value, w->y());
        return 0;
    case ATTR_TOP:
        w->move(w->x(), value);
        return 0;
    case ATTR_FRAME_COLOR:
    case ATTR_TEXT_BGCOLOR:
        applyTextColour(w, QPalette::Window, value);
        return 0;
    case ATTR_TEXT_COLOR:
        applyTextColour(w, QPalette::WindowText, value);
        return 0;
    case ATTR_TEXT_POINT_SIZE: {
        QFont font = w->font();
        font.setPixelSize(std::max(1, value));
        w->setFont(font);
        if (isFreeLabel(w))
            w->adjustSize();
        return 0;
    }
    case ATTR_MAX_VALUE:
    case ATTR_MIN_VALUE:
        if (auto *spin = qobject_cast<QSpinBox *>(w)) {
            if (attribute == ATTR_MAX_VALUE)
                spin->setMaximum(value);
            else
                spin->setMinimum(value);
            return 0;
        }
        return UIE_INVALID_ATTRIBUTE;
    case ATTR_STRIP_CHART_PAUSED:
        return qobject_cast<KvexStripChart *>(w) ? 0 : UIE_INVALID_ATTRIBUTE;
    case ATTR_NUM_TRACES:
    case ATTR_POINTS_PER_SCREEN:
        if (auto *chart = qobject_cast<KvexStripChart *>(w)) {
            if (attribute == ATTR_NUM_TRACES)
                chart->setTraceCount(value);
            else
                chart->setPointsPerScreen(value);
            return 0;
        }
        return UIE_INVALID_ATTRIBUTE;
    default:
        return UIE_INVALID_ATTRIBUTE;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *value) {
    QWidget *w = findControl(panel, control);
    if (!w)
        return UIE_INVALID_CONTROL;
    const QString text = attribute == ATTR_TEXT_FONT ? fromProgram(value) : shown(value);
    switch (attribute) {
    case ATTR_LABEL_TEXT: {
        const QList<QLabel *> labels = labelsOf(w);
        for (QLabel *label : labels)
            label->setText(text);
        if (labels.isEmpty())
            w->setProperty("labelText", text);
        w->setAccessibleName(text);
        return 0;
    }
    case ATTR_TEXT_FONT: {
        QFont font = w->font();
        // The engine's standard application font is the desktop's own.
        font.setFamily(text == "NIApp" ? QApplication::font().family() : text);
        w->setFont(font);
        return 0;
    }
    case ATTR_ON_TEXT:
    case ATTR_OFF_TEXT: {
        const int item = attribute == ATTR_ON_TEXT ? 1 : 0;
        if (auto *combo = qobject_cast<QComboBox *>(w)) {
            while (combo->count() <= item)
                combo->addItem(QString());
            combo->setItemText(item, text);
            return 0;
        }
        if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            button->setProperty(item ? "onText" : "offText", text);
            return 0;
        }
        return UIE_INVALID_ATTRIBUTE;
    }
    case ATTR_TOOLTIP_TEXT:
        w->setToolTip(text);
        return 0;
    default:
        return UIE_INVALID_ATTRIBUTE;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    QWidget *w = findControl(panel, control);
    if (!w || !value)
        return UIE_INVALID_CONTROL;
    switch (attribute) {
    case ATTR_DIMMED:
        *value = w->isEnabled() ? 0 : 1;
        return 0;
    case ATTR_VISIBLE:
        *value = w->isVisibleTo(w->window()) ? 1 : 0;
        return 0;
    case ATTR_LEFT:
        *value = w->x();
        return 0;
    case ATTR_TOP:
        *value = w->y();
        return 0;
    case ATTR_MAX_VALUE:
    case ATTR_MIN_VALUE:
        if (auto *spin = qobject_cast<QSpinBox *>(w)) {
            *value = attribute == ATTR_MAX_VALUE ? spin->maximum() : spin->minimum();
            return 0;
        }
        return UIE_INVALID_ATTRIBUTE;
    default:
        return UIE_INVALID_ATTRIBUTE;
    }
}

int ClearListCtrl(int panel, int control) {
    auto *combo = qobject_cast<QComboBox *>(findControl(panel, control));
    if (!combo)
        return UIE_INVALID_CONTROL;
    const QSignalBlocker block(combo);
    combo->clear();
    combo->setProperty("rawValue", QVariant());
    return 0;
}

int InsertListItem(int panel, int control, int index, const char *label, int value) {
    auto *combo = qobject_cast<QComboBox *>(findControl(panel, control));
    if (!combo)
        return UIE_INVALID_CONTROL;
    const QSignalBlocker block(combo);
    combo->insertItem(index < 0 ? combo->count() : index, shown(label), value);
    return 0;
}

int NewCtrl(int panel, int style, const char *label, int top, int left) {
    Panel *p = findPanel(panel);
    if (!p)
        return UIE_INVALID_PANEL;
    if (style != CTRL_TEXT_MSG)
        return UIE_INVALID_ATTRIBUTE;
    // On the panel's widget for placed labels (its header), so they go where it goes: a header
    // left out on a short screen takes its texts along instead of leaving them over controls.
    QWidget *host = p->widget.get();
    for (QWidget *child : host->findChildren<QWidget *>())
        if (child->property("freeLabels").toBool()) {
            host = child;
            break;
        }
    auto *text = new QLabel(host);
    text->setProperty("kvexFreeLabel", true);
    text->setAccessibleName(shown(label));
    text->move(left, top);
    text->show();
    text->raise();
    const int control = p->nextControlNumber++;
    p->controls[control] = text;
    return control;
}

int ReplaceTextBoxLine(int panel, int control, int line, const char *text) {
    auto *box = qobject_cast<QPlainTextEdit *>(findControl(panel, control));
    if (!box)
        return UIE_INVALID_CONTROL;
    if (line < 0)
        return UIE_INVALID_VALUE;
    QStringList lines = box->toPlainText().split('\n');
    while (lines.size() <= line)
        lines << QString();
    lines[line] = shown(text);
    box->setPlainText(lines.join('\n'));
    return 0;
}

int DisplayImageFile(int panel, int control, const char *fileName) {
    auto *picture = qobject_cast<QLabel *>(findControl(panel, control));
    if (!picture)
        return UIE_INVALID_CONTROL;
    const QPixmap image(locateFile(fileName));
    if (image.isNull())
        return UIE_FILE_OPEN_ERROR;
    picture->setPixmap(image);
    picture->resize(image.size());
    return 0;
}

int SetActiveCtrl(int panel, int control) {
    QWidget *w = findControl(panel, control);
    if (!w)
        return UIE_INVALID_CONTROL;
    w->setFocus(Qt::OtherFocusReason);
    return 0;
}

int PlotXY(int panel, int control, const void *xArray, const void *yArray, int numberOfPoints,
           int xDataType, int yDataType, int plotStyle, int, int lineStyle, int, int color) {
    auto *graph = qobject_cast<KvexGraph *>(findControl(panel, control));
    if (!graph)
        return UIE_INVALID_CONTROL;
    std::vector<double> x, y;
    if (!xArray || !yArray || numberOfPoints < 0 ||
        !kvexplatform::readNumberArray(xArray, xDataType, numberOfPoints, x) ||
        !kvexplatform::readNumberArray(yArray, yDataType, numberOfPoints, y))
        return UIE_INVALID_VALUE;
    return graph->plotCurve(x, y, plotStyle, color, lineStyle);
}

int PlotRectangle(int panel, int control, double x1, double y1, double x2, double y2,
                  int frameColor, int fillColor) {
    auto *graph = qobject_cast<KvexGraph *>(findControl(panel, control));
    if (!graph)
        return UIE_INVALID_CONTROL;
    return graph->plotRectangle(x1, y1, x2, y2, frameColor, fillColor);
}

int PlotStripChart(int panel, int control, const void *yArray, int numberOfPoints, int startIndex,
                   int skipCount, int dataType) {
    auto *chart = qobject_cast<KvexStripChart *>(findControl(panel, control));
    if (!chart)
        return UIE_INVALID_CONTROL;
    std::vector<double> values;
    if (!yArray || numberOfPoints < 0 || startIndex < 0 || startIndex > numberOfPoints ||
        !kvexplatform::readNumberArray(yArray, dataType, numberOfPoints, values))
        return UIE_INVALID_VALUE;
    chart->appendInterleaved(values.data() + startIndex, numberOfPoints - startIndex, skipCount);
    return 0;
}

int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh) {
    auto *graph = qobject_cast<KvexGraph *>(findControl(panel, control));
    if (!graph)
        return UIE_INVALID_CONTROL;
    return graph->deletePlot(plotHandle, refresh != 0) ? 0 : UIE_INVALID_VALUE;
}

int SetGraphCursor(int panel, int control, int cursor, double x, double y) {
    auto *graph = qobject_cast<KvexGraph *>(findControl(panel, control));
    if (!graph)
        return UIE_INVALID_CONTROL;
    return graph->setCursor(cursor, x, y) ? 0 : UIE_INVALID_VALUE;
}

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) {
    QWidget *w = findControl(panel, control);
    bool done = false;
    if (auto *graph = qobject_cast<KvexGraph *>(w))
        done = graph->setAxisRange(axis, mode, min, max);
    else if (auto *chart = qobject_cast<KvexStripChart *>(w))
        done = chart->setAxisRange(axis, mode, min, max);
    else
        return UIE_INVALID_CONTROL;
    return done ? 0 : UIE_INVALID_VALUE;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    auto *chart = qobject_cast<KvexStripChart *>(findControl(panel, control));
    if (!chart)
        return UIE_INVALID_CONTROL;
    if (attribute != ATTR_TRACE_COLOR)
        return UIE_INVALID_ATTRIBUTE;
    chart->setTraceColor(trace, value);
    return 0;
}

int FileSelectPopup(const char *defaultDirectory, const char *defaultFileSpec,
                    const char *fileTypeList, const char *title, int buttonLabel, int, int, int,
                    int, char *pathOut) {
    if (!pathOut)
        return UIE_INVALID_VALUE;
    const QString directory = QFile::decodeName(defaultDirectory ? defaultDirectory : "");
    const QString defaultFile = QFile::decodeName(defaultFileSpec ? defaultFileSpec : "");
    const QString types = fromProgram(fileTypeList);
    QString chosen;
    int result = VAL_NO_FILE_SELECTED;
    if (fileSelectHook) {
        std::string path;
        result = fileSelectHook({directory.toStdString(), defaultFile.toStdString(),
                                 types.toStdString(), shown(title).toStdString(), buttonLabel},
                                path);
        chosen = QString::fromStdString(path);
    } else {
        const QString filter = QString("%1 (%1)").arg(types.isEmpty() ? "*" : types);
        const QString start = QDir(directory).filePath(defaultFile);
        chosen = buttonLabel == VAL_LOAD_BUTTON
                     ? QFileDialog::getOpenFileName(QApplication::activeWindow(), shown(title),
                                                    start, filter)
                     : QFileDialog::getSaveFileName(QApplication::activeWindow(), shown(title),
                                                    start, filter);
        if (!chosen.isEmpty())
            result = QFileInfo::exists(chosen) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
    }
    if (result <= 0)
        return result;
    const QByteArray encoded = QFile::encodeName(QDir::toNativeSeparators(chosen));
    // A path that does not fit the program's buffer is refused rather than cut short.
    if (encoded.isEmpty() || encoded.size() >= kPathSize)
        return UIE_PATH_TOO_LONG;
    copyToProgram(encoded, pathOut, kPathSize);
    return result;
}
