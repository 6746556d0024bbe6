// Graph widgets of the panel, drawn with QCustomPlot.
#include "platform/graphwidgets.h"

#include <algorithm>
#include <cmath>

namespace {

QColor rgb(int color) {
    return QColor((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
}

void setUpPlot(QCustomPlot *plot) {
    // Plots that change many times a second: no antialiasing, one buffer.
    plot->setNotAntialiasedElements(QCP::aeAll);
    plot->setPlottingHint(QCP::phFastPolylines, true);
    plot->setPlottingHint(QCP::phImmediateRefresh, false);
    plot->setBackground(QBrush(QColor(0xFB, 0xFB, 0xFB)));
    plot->axisRect()->setBackground(QBrush(Qt::white));
    plot->setMinimumSize(120, 60);
}

bool applyAxisRange(QCustomPlot *plot, OperatorView *view, int axis, int mode, double min,
                    double max) {
    QCPAxis *target = axis == 0 ? plot->xAxis : axis == 1 ? plot->yAxis : nullptr;
    if (!target)
        return false;
    if (mode == 0) {
        if (min == max)
            max = min + 1.0;
        const QCPRange range(std::min(min, max), std::max(min, max));
        if (view)
            view->requestRange(target, range);
        else
            target->setRange(range);
    } else if (!view || !view->zoomed()) {
        target->rescale(true);
    }
    plot->replot(QCustomPlot::rpQueuedReplot);
    return true;
}

// Turns on the operator's view when the panel file asks for it.
void applyOperatorZoom(QCustomPlot *plot, QEvent *event, OperatorView *&view) {
    if (event->type() != QEvent::DynamicPropertyChange || view)
        return;
    const QByteArray name = static_cast<QDynamicPropertyChangeEvent *>(event)->propertyName();
    if (name == "operatorZoom" && plot->property(name).toBool())
        view = new OperatorView(plot);
}

// Applies a panel-file property to the plot's axes; false for properties it does not know.
bool applyPanelProperty(QCustomPlot *plot, QEvent *event) {
    if (event->type() != QEvent::DynamicPropertyChange)
        return false;
    const QByteArray name = static_cast<QDynamicPropertyChangeEvent *>(event)->propertyName();
    const QVariant value = plot->property(name);
    if (name == "xLabel")
        plot->xAxis->setLabel(value.toString());
    else if (name == "yLabel")
        plot->yAxis->setLabel(value.toString());
    else if (name == "xMin")
        plot->xAxis->setRangeLower(value.toDouble());
    else if (name == "xMax")
        plot->xAxis->setRangeUpper(value.toDouble());
    else if (name == "yMin")
        plot->yAxis->setRangeLower(value.toDouble());
    else if (name == "yMax")
        plot->yAxis->setRangeUpper(value.toDouble());
    else if (name == "yTicks")
        plot->yAxis->setTicks(value.toBool());
    else
        return false;
    plot->replot(QCustomPlot::rpQueuedReplot);
    return true;
}

} // namespace

bool KvexGraph::event(QEvent *event) {
    applyOperatorZoom(this, event, view_);
    applyPanelProperty(this, event);
    return QCustomPlot::event(event);
}

bool KvexStripChart::event(QEvent *event) {
    applyOperatorZoom(this, event, view_);
    applyPanelProperty(this, event);
    return QCustomPlot::event(event);
}

KvexGraph::KvexGraph(QWidget *parent) : QCustomPlot(parent) {
    setUpPlot(this);
    addLayer("cursors", layer("main"), QCustomPlot::limAbove);
    cursorLayer_ = layer("cursors");
}

int KvexGraph::plotCurve(const std::vector<double> &x, const std::vector<double> &y, int plotStyle,
                         int color) {
    QCPGraph *graph = addGraph();
    QVector<QCPGraphData> data(static_cast<int>(std::min(x.size(), y.size())));
    for (int i = 0; i < data.size(); ++i)
        data[i] = QCPGraphData(x[i], y[i]);
    graph->data()->set(data, true);
    graph->setPen(QPen(rgb(color), plotStyle == 5 ? 2 : 1));
    const int handle = nextHandle_++;
    curves_[handle] = graph;
    plots_[handle] = 0;
    replot(rpQueuedReplot);
    return handle;
}

int KvexGraph::plotRectangle(double x1, double y1, double x2, double y2, int frameColor,
                             int fillColor) {
    auto *rect = new QCPItemRect(this);
    rect->setClipToAxisRect(true);
    rect->topLeft->setCoords(std::min(x1, x2), std::max(y1, y2));
    rect->bottomRight->setCoords(std::max(x1, x2), std::min(y1, y2));
    rect->setPen(QPen(rgb(frameColor)));
    rect->setBrush(QBrush(rgb(fillColor)));
    const int handle = nextHandle_++;
    rects_[handle] = rect;
    plots_[handle] = 1;
    replot(rpQueuedReplot);
    return handle;
}

bool KvexGraph::deletePlot(int handle, bool refresh) {
    if (handle == -1) {
        for (auto &curve : curves_)
            removePlottable(curve.second);
        for (auto &rect : rects_)
            removeItem(rect.second);
        curves_.clear();
        rects_.clear();
        plots_.clear();
    } else if (curves_.count(handle)) {
        removePlottable(curves_[handle]);
        curves_.erase(handle);
        plots_.erase(handle);
    } else if (rects_.count(handle)) {
        removeItem(rects_[handle]);
        rects_.erase(handle);
        plots_.erase(handle);
    } else {
        return false;
    }
    if (refresh)
        replot(rpQueuedReplot);
    return true;
}

bool KvexGraph::setCursor(int cursor, double x, double) {
    if (cursor < 1 || cursor > 3)
        return false;
    QCPItemStraightLine *&line = cursors_[cursor - 1];
    if (!line) {
        line = new QCPItemStraightLine(this);
        line->setLayer(cursorLayer_);
        QPen pen(cursor == 1 ? QColor(Qt::black) : QColor(0x1F, 0x4F, 0xBF), cursor == 1 ? 2 : 1);
        if (cursor != 1)
            pen.setStyle(Qt::DashLine);
        line->setPen(pen);
    }
    line->point1->setCoords(x, 0.0);
    line->point2->setCoords(x, 1.0);
    cursorX_[cursor - 1] = x;
    replot(rpQueuedReplot);
    return true;
}

double KvexGraph::cursorX(int cursor) const {
    return cursor >= 1 && cursor <= 3 ? cursorX_[cursor - 1] : 0.0;
}

bool KvexGraph::setAxisRange(int axis, int mode, double min, double max) {
    return applyAxisRange(this, view_, axis, mode, min, max);
}

std::vector<std::vector<double>> KvexGraph::rectangles() const {
    std::vector<std::vector<double>> out;
    for (const auto &entry : plots_) {
        if (entry.second != 1)
            continue;
        const QCPItemRect *rect = rects_.at(entry.first);
        out.push_back({rect->topLeft->coords().x(), rect->bottomRight->coords().y(),
                       rect->bottomRight->coords().x(), rect->topLeft->coords().y(),
                       static_cast<double>(rect->brush().color().rgb() & 0xFFFFFF)});
    }
    return out;
}

KvexStripChart::KvexStripChart(QWidget *parent) : QCustomPlot(parent) {
    setUpPlot(this);
    setTraceCount(1);
}

void KvexStripChart::setTraceCount(int traces) {
    traces = std::clamp(traces, 1, 64);
    if (traces == traceCount())
        return;
    history_.assign(static_cast<size_t>(traces), std::deque<double>());
    clearGraphs();
    for (int t = 0; t < traces; ++t)
        addGraph();
    refreshTraces();
}

void KvexStripChart::setPointsPerScreen(int points) {
    pointsPerScreen_ = std::max(2, points);
    for (auto &trace : history_)
        while (static_cast<int>(trace.size()) > pointsPerScreen_)
            trace.pop_front();
    refreshTraces();
}

void KvexStripChart::setTraceColor(int trace, int color) {
    if (trace < 1 || trace > graphCount())
        return;
    graph(trace - 1)->setPen(QPen(rgb(color), trace >= 4 ? 2 : 1));
    replot(rpQueuedReplot);
}

void KvexStripChart::appendInterleaved(const double *values, int count, int skip) {
    const int traces = traceCount();
    int i = 0;
    while (i + traces <= count) {
        for (int t = 0; t < traces; ++t) {
            std::deque<double> &trace = history_[static_cast<size_t>(t)];
            trace.push_back(values[i + t]);
            if (static_cast<int>(trace.size()) > pointsPerScreen_)
                trace.pop_front();
        }
        i += traces * (1 + std::max(0, skip));
    }
    refreshTraces();
}

void KvexStripChart::refreshTraces() {
    // x is the place on the screen: the newest sample stands at the right end.
    for (int t = 0; t < traceCount() && t < graphCount(); ++t) {
        const std::deque<double> &trace = history_[static_cast<size_t>(t)];
        QVector<QCPGraphData> data(static_cast<int>(trace.size()));
        const int first = pointsPerScreen_ - static_cast<int>(trace.size());
        for (int k = 0; k < data.size(); ++k)
            data[k] = QCPGraphData(first + k, trace[static_cast<size_t>(k)]);
        graph(t)->data()->set(data, true);
    }
    const QCPRange screen(0, pointsPerScreen_ - 1);
    if (view_)
        view_->requestRange(xAxis, screen);
    else
        xAxis->setRange(screen);
    replot(rpQueuedReplot);
}

bool KvexStripChart::setAxisRange(int axis, int mode, double min, double max) {
    if (axis == 0)
        return false; // the time axis follows the samples
    return applyAxisRange(this, view_, axis, mode, min, max);
}

std::vector<double> KvexStripChart::traceSamples(int trace) const {
    if (trace < 1 || trace > traceCount())
        return {};
    const auto &samples = history_[static_cast<size_t>(trace - 1)];
    return std::vector<double>(samples.begin(), samples.end());
}

OperatorView::OperatorView(QCustomPlot *plot)
    : QObject(plot), plot_(plot), tracer_(new QCPItemTracer(plot)), label_(new QCPItemText(plot)) {
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
    plot->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
    tracer_->setStyle(QCPItemTracer::tsCrosshair);
    tracer_->setPen(QPen(QColor(0x1F, 0x4F, 0xBF), 1, Qt::DotLine));
    tracer_->setVisible(false);
    label_->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    label_->position->setType(QCPItemPosition::ptAxisRectRatio);
    label_->position->setCoords(0.01, 0.01);
    label_->setBrush(QBrush(QColor(255, 255, 255, 220)));
    label_->setPadding(QMargins(3, 1, 3, 1));
    label_->setVisible(false);
    plot->setMouseTracking(true);
    plot->installEventFilter(this);
}

bool OperatorView::eventFilter(QObject *, QEvent *event) {
    switch (event->type()) {
    case QEvent::Wheel:
        zoomed_ = true;
        break;
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->buttons() & Qt::LeftButton)
            zoomed_ = true;
        showReadout(mouse->position().x());
        break;
    }
    case QEvent::Leave:
        hideReadout();
        break;
    default:
        break;
    }
    return false;
}

void OperatorView::fit() {
    zoomed_ = false;
    if (haveProgramX_)
        plot_->xAxis->setRange(programX_);
    else
        plot_->xAxis->rescale(true);
    if (haveProgramY_)
        plot_->yAxis->setRange(programY_);
    else
        plot_->yAxis->rescale(true);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void OperatorView::requestRange(QCPAxis *axis, const QCPRange &range) {
    if (axis == plot_->xAxis) {
        programX_ = range;
        haveProgramX_ = true;
    } else {
        programY_ = range;
        haveProgramY_ = true;
    }
    if (!zoomed_)
        axis->setRange(range);
}

QCPGraph *OperatorView::tracedCurve() const {
    const int wanted =
        plot_->property("readoutTrace").isValid() ? plot_->property("readoutTrace").toInt() - 1 : 0;
    if (wanted >= 0 && wanted < plot_->graphCount())
        return plot_->graph(wanted);
    return plot_->graphCount() > 0 ? plot_->graph(0) : nullptr;
}

void OperatorView::showReadout(double pixelX) {
    QCPGraph *curve = tracedCurve();
    if (!curve || curve->data()->isEmpty()) {
        hideReadout();
        return;
    }
    const double x = plot_->xAxis->pixelToCoord(pixelX);
    auto nearest = curve->data()->findBegin(x, true);
    if (nearest == curve->data()->constEnd())
        --nearest;
    auto next = nearest + 1;
    if (next != curve->data()->constEnd() && std::abs(next->key - x) < std::abs(nearest->key - x))
        nearest = next;
    tracer_->setGraph(nullptr);
    tracer_->position->setCoords(nearest->key, nearest->value);
    tracer_->setVisible(true);
    readout_ = QString("%1 %2, %3 %4")
                   .arg(plot_->property("readoutX").toString().isEmpty()
                            ? QString("x")
                            : plot_->property("readoutX").toString())
                   .arg(nearest->key, 0, 'g', 6)
                   .arg(plot_->property("readoutY").toString().isEmpty()
                            ? QString("y")
                            : plot_->property("readoutY").toString())
                   .arg(nearest->value, 0, 'g', 6);
    label_->setText(readout_);
    label_->setVisible(true);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void OperatorView::hideReadout() {
    readout_.clear();
    tracer_->setVisible(false);
    label_->setVisible(false);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}
