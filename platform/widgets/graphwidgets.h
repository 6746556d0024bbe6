// The panel's graph widgets: an x-y graph with cursors and rectangles, and a strip chart.
#pragma once

#include <qcustomplot.h>

#include <deque>
#include <map>
#include <vector>

// Both graphs take their axis labels and fixed ranges from dynamic properties of the panel file
// (xLabel, yLabel, xMin, xMax, yMin, yMax, yTicks), so the panel stays editable in Qt Designer.

// The operator's closer look at a graph (panel-file property operatorZoom): a tracer with the
// value under the mouse, wheel zoom and drag pan on both axes. Once the operator has zoomed or
// panned, the program's range changes are kept aside instead of applied, so live updates leave
// the operator's view alone; fit() returns to the program's ranges.
class OperatorView : public QObject {
  public:
    explicit OperatorView(QCustomPlot *plot);

    bool zoomed() const { return zoomed_; }
    void fit();
    // A range the program asks for: applied now, or kept for fit() while the operator has zoomed.
    void requestRange(QCPAxis *axis, const QCPRange &range);
    // Shows the value of the traced curve nearest to the pixel column x.
    void showReadout(double pixelX);
    // What the tracer shows, e.g. "position 512, level 300"; empty while the mouse is away.
    QString readout() const { return readout_; }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    QCPGraph *tracedCurve() const;
    void hideReadout();

    QCustomPlot *plot_;
    bool zoomed_ = false;
    QCPRange programX_, programY_;
    bool haveProgramX_ = false, haveProgramY_ = false;
    QCPItemTracer *tracer_;
    QCPItemText *label_;
    QString readout_;
};

// What both panel graphs share: the panel file's properties, the operator's view, and redraws
// in batches. Every change asks for one redraw at the next pass of the event loop, so a pass that
// changes many things costs one, done while the program waits for the sensor. A redraw after a
// change of data only draws the data's layers again: the axes, grid and tick labels stay as drawn
// until their ranges, labels or the plot's size change.
class KvexPlot : public QCustomPlot {
    Q_OBJECT

  public:
    explicit KvexPlot(QWidget *parent = nullptr);
    // nullptr unless the panel file asks for the operator's view.
    OperatorView *operatorView() const { return view_; }
    // The redraws so far that drew everything, and those that drew only data; for checks.
    int fullRedraws() const { return fullRedraws_; }
    int dataRedraws() const { return dataRedraws_; }

  protected:
    bool event(QEvent *event) override;
    // `layout` when more than the data changed: labels, ticks, pens of the axes.
    void requestRedraw(bool layout = false);
    // Gives a layer a buffer of its own, to be drawn again alone when only data changed.
    void addDataLayer(QCPLayer *layer);
    bool applyAxisRange(int axis, int mode, double min, double max);

    OperatorView *view_ = nullptr;

  private:
    void redraw();

    std::vector<QCPLayer *> dataLayers_;
    bool redrawQueued_ = false;
    bool layoutChanged_ = true;
    QCPRange drawnX_, drawnY_;
    int fullRedraws_ = 0, dataRedraws_ = 0;
};

// x-y graph: curves, filled rectangles and three vertical cursors. Curves and rectangles that are
// deleted are kept hidden for the next plots: adding or removing one would make the next redraw
// draw everything.
class KvexGraph : public KvexPlot {
    Q_OBJECT

  public:
    explicit KvexGraph(QWidget *parent = nullptr);

    // lineStyle 1 draws dashed, anything else solid.
    int plotCurve(const std::vector<double> &x, const std::vector<double> &y, int plotStyle,
                  int color, int lineStyle = 0);
    int plotRectangle(double x1, double y1, double x2, double y2, int frameColor, int fillColor);
    // handle -1 removes every curve and rectangle; the cursors stay.
    bool deletePlot(int handle, bool refresh);
    bool setCursor(int cursor, double x, double y);
    bool setAxisRange(int axis, int mode, double min, double max);
    double cursorX(int cursor) const;
    int plotCount() const { return static_cast<int>(plots_.size()); }
    // Rectangles in drawing order as (x1, y1, x2, y2, fill colour); for tests and checks.
    std::vector<std::vector<double>> rectangles() const;
    // The dashed curves in drawing order as their points (x0, y0, x1, y1, ...); for tests.
    std::vector<std::vector<double>> dashedCurves() const;

  private:
    // A hidden one of the kind drawn after everything shown, so that what is plotted next lies
    // over what is shown, as a new one would; nullptr when there is none.
    template <class T> T *reusable() const;
    QCPGraph *takeCurve();
    QCPItemRect *takeRectangle();
    void retire(QCPGraph *curve);
    void retire(QCPItemRect *rect);

    QCPLayer *cursorLayer_ = nullptr;
    QCPItemStraightLine *cursors_[3] = {nullptr, nullptr, nullptr};
    double cursorX_[3] = {0, 0, 0};
    std::map<int, QCPGraph *> curves_;
    std::map<int, QCPItemRect *> rects_;
    std::map<int, int> plots_; // handle -> 0 curve, 1 rectangle, in creation order
    int nextHandle_ = 1;
};

// Strip chart: interleaved samples of several traces scroll in from the right.
class KvexStripChart : public KvexPlot {
    Q_OBJECT

  public:
    explicit KvexStripChart(QWidget *parent = nullptr);

    void setTraceCount(int traces);
    void setPointsPerScreen(int points);
    void setTraceColor(int trace, int color);
    void appendInterleaved(const double *values, int count, int skip);
    bool setAxisRange(int axis, int mode, double min, double max);
    int traceCount() const { return static_cast<int>(history_.size()); }
    int pointsPerScreen() const { return pointsPerScreen_; }
    // The samples of one trace (1-based) now on screen, oldest first.
    std::vector<double> traceSamples(int trace) const;

  private:
    void refreshTraces();

    std::vector<std::deque<double>> history_;
    int pointsPerScreen_ = 100;
};

namespace kvexplatform {
// PlotHistogram on a plot of any window (the recording window's histogram).
int plotHistogram(QCustomPlot *plot, const long *counts, int bins, double lower, double binWidth,
                  const double markers[3]);
} // namespace kvexplatform
