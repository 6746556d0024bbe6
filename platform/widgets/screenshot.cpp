// Scripted panels and their pictures over Qt Widgets: buttons, labels and windows by object name.
#include "platform/screenshot.h"
#include "platform/qtaccess.h"
#include "platform/widgets/windowplacement.h"

#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <utility>

namespace {

template <typename Child> Child *panelChild(int panel, const std::string &objectName) {
    QWidget *widget = kvexplatform::panelWidget(panel);
    return widget ? widget->findChild<Child *>(QString::fromStdString(objectName)) : nullptr;
}

// Painted at the pixmaps' own device pixel ratio, so a picture taken at 200 % keeps its detail.
QImage stacked(const QPixmap &top, const QPixmap &bottom) {
    constexpr int gap = 16;
    const qreal ratio = top.devicePixelRatio();
    const QSize topSize = top.deviceIndependentSize().toSize();
    const QSize bottomSize = bottom.deviceIndependentSize().toSize();
    const QSize size(std::max(topSize.width(), bottomSize.width()),
                     topSize.height() + gap + bottomSize.height());
    QImage canvas(size * ratio, QImage::Format_RGB32);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(QColor(0x60, 0x60, 0x60));
    QPainter painter(&canvas);
    painter.drawPixmap(0, 0, top);
    painter.drawPixmap(0, topSize.height() + gap, bottom);
    return canvas;
}

} // namespace

namespace kvexplatform {

bool clickButton(int panel, const std::string &objectName) {
    QAbstractButton *button = panelChild<QAbstractButton>(panel, objectName);
    if (!button)
        return false;
    button->click();
    return true;
}

bool labelText(int panel, const std::string &objectName, std::string &text) {
    const QLabel *label = panelChild<QLabel>(panel, objectName);
    if (!label)
        return false;
    text = label->text().toStdString();
    return true;
}

bool resizePanel(int panel, int width, int height) {
    QWidget *widget = panelWidget(panel);
    if (!widget)
        return false;
    widget->resize(width, height);
    fitWindow(widget);
    return true;
}

bool savePanelPicture(int panel, const std::string &file) {
    QWidget *widget = panelWidget(panel);
    return widget && widget->grab().save(QString::fromStdString(file));
}

bool saveStackedPicture(int top, int below, const std::string &file) {
    QWidget *topWidget = panelWidget(top);
    QWidget *belowWidget = panelWidget(below);
    if (!topWidget || !belowWidget || !belowWidget->isVisible())
        return false;
    return stacked(topWidget->grab(), belowWidget->grab()).save(QString::fromStdString(file));
}

bool saveTrafficPicture(int panel, const std::string &file) {
    // The monitor window is the panel's child by the name the monitor gives it.
    QWidget *monitor = panelChild<QWidget>(panel, "TrafficWindow");
    return monitor && monitor->grab().save(QString::fromStdString(file));
}

void callAfter(int milliseconds, std::function<void()> call) {
    QTimer::singleShot(milliseconds, std::move(call));
}

} // namespace kvexplatform
