// The panel's graph widgets: an x-y graph with cursors and rectangles, and a strip chart.
#pragma once

#include <qcustomplot.h>

#include <deque>
#include <map>
#include <vector>

// Both graphs take their axis labels and fixed ranges from dynamic properties of the panel file
// (xLabel, yLabel, xMin, xMax, yMin, yMax, yTicks), so the panel stays editable in Qt Designer.

// x-y graph: curves, filled rectangles and three vertical cursors. Every change asks for one
// queued repaint, so a pass that changes many things costs one redraw, done while the program
// waits for the sensor.
class KvexGraph : public QCustomPlot {
    Q_OBJECT

  public:
    explicit KvexGraph(QWidget *parent = nullptr);

    int plotCurve(const std::vector<double> &x, const std::vector<double> &y, int plotStyle,
                  int color);
    int plotRectangle(double x1, double y1, double x2, double y2, int frameColor, int fillColor);
    // handle -1 removes every curve and rectangle; the cursors stay.
    bool deletePlot(int handle, bool refresh);
    bool setCursor(int cursor, double x, double y);
    bool setAxisRange(int axis, int mode, double min, double max);
    double cursorX(int cursor) const;
    int plotCount() const { return static_cast<int>(plots_.size()); }
    // Rectangles in drawing order as (x1, y1, x2, y2, fill colour); for tests and checks.
    std::vector<std::vector<double>> rectangles() const;

  protected:
    bool event(QEvent *event) override;

  private:
    QCPLayer *cursorLayer_ = nullptr;
    QCPItemStraightLine *cursors_[3] = {nullptr, nullptr, nullptr};
    double cursorX_[3] = {0, 0, 0};
    std::map<int, QCPAbstractPlottable *> curves_;
    std::map<int, QCPItemRect *> rects_;
    std::map<int, int> plots_; // handle -> 0 curve, 1 rectangle, in creation order
    int nextHandle_ = 1;
};

// Strip chart: interleaved samples of several traces scroll in from the right.
class KvexStripChart : public QCustomPlot {
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

  protected:
    bool event(QEvent *event) override;

  private:
    void refreshTraces();

    std::vector<std::deque<double>> history_;
    int pointsPerScreen_ = 100;
};
