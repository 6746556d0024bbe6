// Histogram bars and marker lines on a panel graph, over QCustomPlot.
#include "platform/histogram.h"
#include "platform/core/translation.h"
#include "platform/qtaccess.h"
#include "platform/userint.h"
#include "platform/widgets/graphwidgets.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {

const char *const kBarsName = "histogramBars";
const char *const kMarkerNames[3] = {"histogramLower", "histogramSetpoint", "histogramUpper"};

QCustomPlot *findPlot(int panel, int control) {
    return qobject_cast<QCustomPlot *>(kvexplatform::controlWidget(panel, control));
}

QCPBars *barsOf(QCustomPlot *plot) {
    for (int i = 0; i < plot->plottableCount(); ++i)
        if (plot->plottable(i)->objectName() == kBarsName)
            return qobject_cast<QCPBars *>(plot->plottable(i));
    auto *bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setObjectName(kBarsName);
    bars->setPen(QPen(QColor(0x30, 0x50, 0x90)));
    bars->setBrush(QColor(0x60, 0x90, 0xD0));
    return bars;
}

QCPItemStraightLine *markerOf(QCustomPlot *plot, int index) {
    for (int i = 0; i < plot->itemCount(); ++i)
        if (plot->item(i)->objectName() == kMarkerNames[index])
            return qobject_cast<QCPItemStraightLine *>(plot->item(i));
    auto *line = new QCPItemStraightLine(plot);
    line->setObjectName(kMarkerNames[index]);
    line->setClipToAxisRect(true);
    QPen pen(index == 1 ? QColor(Qt::black) : QColor(0xD0, 0x20, 0x20), index == 1 ? 1.5 : 2.0);
    if (index != 1)
        pen.setStyle(Qt::DashLine);
    line->setPen(pen);
    return line;
}

} // namespace

int PlotHistogram(int panel, int control, const long *counts, int bins, double lower,
                  double binWidth, const double markers[3]) {
    QCustomPlot *plot = findPlot(panel, control);
    if (!plot)
        return UIE_INVALID_CONTROL;
    return kvexplatform::plotHistogram(plot, counts, bins, lower, binWidth, markers);
}

int kvexplatform::plotHistogram(QCustomPlot *plot, const long *counts, int bins, double lower,
                                double binWidth, const double markers[3]) {
    if (bins < 0 || (bins > 0 && !counts) || !(binWidth > 0.0))
        return UIE_INVALID_VALUE;
    QCPBars *bars = barsOf(plot);
    QVector<double> keys(bins), values(bins);
    double highest = 0.0;
    for (int i = 0; i < bins; ++i) {
        keys[i] = lower + (i + 0.5) * binWidth;
        values[i] = static_cast<double>(counts[i]);
        highest = std::max(highest, values[i]);
    }
    bars->setWidth(binWidth);
    bars->setData(keys, values, true);

    double from = lower, to = lower + bins * binWidth;
    for (int i = 0; i < 3; ++i) {
        QCPItemStraightLine *line = markerOf(plot, i);
        const bool shown = !std::isnan(markers[i]);
        line->setVisible(shown);
        if (!shown)
            continue;
        line->point1->setCoords(markers[i], 0.0);
        line->point2->setCoords(markers[i], 1.0);
        from = std::min(from, markers[i]);
        to = std::max(to, markers[i]);
    }
    const double margin = std::max((to - from) * 0.04, binWidth);
    plot->xAxis->setRange(from - margin, to + margin);
    plot->yAxis->setRange(0.0, highest > 0.0 ? highest * 1.1 : 1.0);
    plot->replot(QCustomPlot::rpQueuedReplot);
    return 0;
}

int SetCtrlToolTip(int panel, int control, const char *text) {
    QWidget *widget = kvexplatform::controlWidget(panel, control);
    if (!widget)
        return UIE_INVALID_CONTROL;
    widget->setToolTip(kvexplatform::shownText(text));
    return 0;
}
