// Graph widgets of the panel, drawn with QCustomPlot.
#include "platform/widgets/graphwidgets.h"

#include <algorithm>
#include <cmath>

namespace {

QColor rgb(int color) {
    return QColor((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
}

} // namespace

KvexPlot::KvexPlot(QWidget *parent) : QCustomPlot(parent) {
    // Plots that change many times a second: no antialiasing, fast polylines.
    setNotAntialiasedElements(QCP::aeAll);
    setPlottingHint(QCP::phFastPolylines, true);
    setPlottingHint(QCP::phImmediateRefresh, false);
    setBackground(QBrush(QColor(0xFB, 0xFB, 0xFB)));
    axisRect()->setBackground(QBrush(Qt::white));
    setMinimumSize(120, 60);
    // The plot fills every pixel with its own background, so the panel under it need not be
    // drawn again each time a live loop redraws it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Whatever drew everything (a resize, the operator's zoom) also drew the axes as they are.
    connect(this, &QCustomPlot::afterReplot, this, [this] {
        drawnX_ = xAxis->range();
        drawnY_ = yAxis->range();
        layoutChanged_ = false;
    });
}

void KvexPlot::addDataLayer(QCPLayer *layer) {
    layer->setMode(QCPLayer::lmBuffered);
    dataLayers_.push_back(layer);
}

void KvexPlot::requestRedraw(bool layout) {
    layoutChanged_ = layoutChanged_ || layout;
    if (redrawQueued_)
        return;
    redrawQueued_ = true;
    QMetaObject::invokeMethod(this, &KvexPlot::redraw, Qt::QueuedConnection);
}

void KvexPlot::redraw() {
    redrawQueued_ = false;
    const bool axesMoved = xAxis->range() != drawnX_ || yAxis->range() != drawnY_;
    if (layoutChanged_ || axesMoved || dataLayers_.empty() || hasInvalidatedPaintBuffers()) {
        ++fullRedraws_;
        replot();
        return;
    }
    ++dataRedraws_;
    for (QCPLayer *layer : dataLayers_)
        layer->replot();
}

bool KvexPlot::applyAxisRange(int axis, int mode, double min, double max) {
    QCPAxis *target = axis == 0 ? xAxis : axis == 1 ? yAxis : nullptr;
    if (!target)
        return false;
    if (mode == 0) {
        if (min == max)
            max = min + 1.0;
        const QCPRange range(std::min(min, max), std::max(min, max));
        if (view_)
            view_->requestRange(target, range);
        else
            target->setRange(range);
    } else if (!view_ || !view_->zoomed()) {
        target->rescale(true);
    }
    // A range that stays as it was redraws the data only.
    requestRedraw();
    return true;
}

bool KvexPlot::event(QEvent *event) {
    if (event->type() == QEvent::DynamicPropertyChange) {
        const QByteArray name = static_cast<QDynamicPropertyChangeEvent *>(event)->propertyName();
        const QVariant value = property(name);
        // The operator's view, when the panel file asks for it.
        if (name == "operatorZoom" && value.toBool() && !view_)
            view_ = new OperatorView(this);
        // Labels and fixed ranges of the axes.
        bool axisProperty = true;
        if (name == "xLabel")
            xAxis->setLabel(value.toString());
        else if (name == "yLabel")
            yAxis->setLabel(value.toString());
        else if (name == "xMin")
            xAxis->setRangeLower(value.toDouble());
        else if (name == "xMax")
            xAxis->setRangeUpper(value.toDouble());
        else if (name == "yMin")
            yAxis->setRangeLower(value.toDouble());
        else if (name == "yMax")
            yAxis->setRangeUpper(value.toDouble());
        else if (name == "yTicks")
            yAxis->setTicks(value.toBool());
        else
            axisProperty = false;
        if (axisProperty)
            requestRedraw(true);
    }
    return QCustomPlot::event(event);
}

KvexGraph::KvexGraph(QWidget *parent) : KvexPlot(parent) {
    addLayer("cursors", layer("main"), QCustomPlot::limAbove);
    cursorLayer_ = layer("cursors");
    addDataLayer(layer("main"));
    addDataLayer(cursorLayer_);
}

template <class T> T *KvexGraph::reusable() const {
    const QList<QCPLayerable *> drawn = layer("main")->children();
    T *found = nullptr;
    for (auto it = drawn.rbegin(); it != drawn.rend() && !(*it)->visible(); ++it)
        if (auto *hidden = qobject_cast<T *>(*it))
            found = hidden;
    return found;
}

QCPGraph *KvexGraph::takeCurve() {
    QCPGraph *curve = reusable<QCPGraph>();
    if (!curve)
        return addGraph();
    curve->setVisible(true);
    return curve;
}

QCPItemRect *KvexGraph::takeRectangle() {
    QCPItemRect *rect = reusable<QCPItemRect>();
    if (!rect) {
        rect = new QCPItemRect(this);
        rect->setClipToAxisRect(true);
    }
    rect->setVisible(true);
    return rect;
}

void KvexGraph::retire(QCPGraph *curve) {
    curve->setVisible(false);
    curve->data()->clear();
}

void KvexGraph::retire(QCPItemRect *rect) {
    rect->setVisible(false);
}

int KvexGraph::plotCurve(const std::vector<double> &x, const std::vector<double> &y, int plotStyle,
                         int color, int lineStyle) {
    QCPGraph *graph = takeCurve();
    QVector<QCPGraphData> data(static_cast<int>(std::min(x.size(), y.size())));
    for (int i = 0; i < data.size(); ++i)
        data[i] = QCPGraphData(x[i], y[i]);
    graph->data()->set(data, true);
    QPen pen(rgb(color), plotStyle == 5 ? 2 : 1);
    pen.setStyle(lineStyle == 1 ? Qt::DashLine : Qt::SolidLine);
    graph->setPen(pen);
    const int handle = nextHandle_++;
    curves_[handle] = graph;
    plots_[handle] = 0;
    requestRedraw();
    return handle;
}

int KvexGraph::plotRectangle(double x1, double y1, double x2, double y2, int frameColor,
                             int fillColor) {
    QCPItemRect *rect = takeRectangle();
    rect->topLeft->setCoords(std::min(x1, x2), std::max(y1, y2));
    rect->bottomRight->setCoords(std::max(x1, x2), std::min(y1, y2));
    rect->setPen(QPen(rgb(frameColor)));
    rect->setBrush(QBrush(rgb(fillColor)));
    const int handle = nextHandle_++;
    rects_[handle] = rect;
    plots_[handle] = 1;
    requestRedraw();
    return handle;
}

bool KvexGraph::deletePlot(int handle, bool refresh) {
    if (handle == -1) {
        for (auto &curve : curves_)
            retire(curve.second);
        for (auto &rect : rects_)
            retire(rect.second);
        curves_.clear();
        rects_.clear();
        plots_.clear();
    } else if (curves_.count(handle)) {
        retire(curves_[handle]);
        curves_.erase(handle);
        plots_.erase(handle);
    } else if (rects_.count(handle)) {
        retire(rects_[handle]);
        rects_.erase(handle);
        plots_.erase(handle);
    } else {
        return false;
    }
    if (refresh)
        requestRedraw();
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
    requestRedraw();
    return true;
}

double KvexGraph::cursorX(int cursor) const {
    return cursor >= 1 && cursor <= 3 ? cursorX_[cursor - 1] : 0.0;
}

bool KvexGraph::setAxisRange(int axis, int mode, double min, double max) {
    return applyAxisRange(axis, mode, min, max);
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

std::vector<std::vector<double>> KvexGraph::dashedCurves() const {
    std::vector<std::vector<double>> out;
    for (const auto &entry : plots_) {
        if (entry.second != 0)
            continue;
        const QCPGraph *curve = curves_.at(entry.first);
        if (curve->pen().style() != Qt::DashLine)
            continue;
        std::vector<double> points;
        for (const QCPGraphData &point : *curve->data())
            points.insert(points.end(), {point.key, point.value});
        out.push_back(points);
    }
    return out;
}

KvexStripChart::KvexStripChart(QWidget *parent) : KvexPlot(parent) {
    addDataLayer(layer("main"));
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
    const QPen pen(rgb(color), trace >= 4 ? 2 : 1);
    if (graph(trace - 1)->pen() == pen)
        return;
    graph(trace - 1)->setPen(pen);
    requestRedraw();
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
    requestRedraw();
}

bool KvexStripChart::setAxisRange(int axis, int mode, double min, double max) {
    if (axis == 0)
        return false; // the time axis follows the samples
    return applyAxisRange(axis, mode, min, max);
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
    QCPGraph *curve = wanted >= 0 && wanted < plot_->graphCount() ? plot_->graph(wanted)
                      : plot_->graphCount() > 0                   ? plot_->graph(0)
                                                                  : nullptr;
    // A hidden curve is a deleted one kept for reuse.
    return curve && curve->visible() ? curve : nullptr;
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
