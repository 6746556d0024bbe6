// The recording window over Qt: the chart draws one min/max stroke per pixel column of the span
// shown, so a day of rows zooms and pans as quickly as a minute of them.
#include "platform/recordingwindow.h"
#include "platform/core/translation.h"
#include "platform/widgets/graphwidgets.h"
#include "platform/widgets/windowplacement.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {

QString shown(const std::string &text) {
    return kvexplatform::programText(text.c_str());
}

// A press and release closer than this is a click that picks a time, not a drag.
constexpr int kClickDistance = 4;

class RecordingWindow : public QWidget {
  public:
    RecordingWindow(std::shared_ptr<RecordingSource> source, int number)
        : source_(std::move(source)) {
        setAttribute(Qt::WA_DeleteOnClose);
        setObjectName("RecordingWindow");
        setWindowTitle(shown(source_->title()));
        const QString suffix = QString("-%1").arg(number);
        from_ = source_->firstTime();
        to_ = source_->lastTime();
        picked_ = from_;
        auto *layout = new QVBoxLayout(this);

        chart_ = new QCustomPlot(this);
        chart_->setObjectName("recordingChart" + suffix);
        chart_->setAccessibleName(
            QCoreApplication::translate("kvex", "Strip chart of the recording"));
        chart_->setMinimumHeight(220);
        chart_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
        chart_->axisRect()->setRangeDrag(Qt::Horizontal);
        chart_->axisRect()->setRangeZoom(Qt::Horizontal);
        ticker_ = QSharedPointer<QCPAxisTickerDateTime>::create();
        ticker_->setDateTimeSpec(Qt::UTC);
        chart_->xAxis->setTicker(ticker_);
        chart_->xAxis->setLabel(QCoreApplication::translate("kvex", "Time (UTC)"));
        chart_->yAxis->setLabel(QCoreApplication::translate("kvex", "Measured value (units)"));
        envelope_ = chart_->addGraph();
        envelope_->setPen(QPen(QColor(0x20, 0x50, 0xA0)));
        envelope_->setAdaptiveSampling(false);
        span_ = new QCPItemRect(chart_);
        span_->setPen(Qt::NoPen);
        span_->setBrush(QColor(0xF0, 0xB0, 0x30, 60));
        for (QCPItemPosition *corner : {span_->topLeft, span_->bottomRight}) {
            corner->setTypeX(QCPItemPosition::ptPlotCoords);
            corner->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        span_->topLeft->setCoords(0, 0);
        span_->bottomRight->setCoords(0, 1);
        cursor_ = new QCPItemStraightLine(chart_);
        cursor_->setPen(QPen(QColor(0xC0, 0x20, 0x20), 1.0, Qt::DashLine));
        layout->addWidget(chart_, 3);

        readout_ = new QLabel(this);
        readout_->setObjectName("recordingReadout");
        readout_->setAccessibleName(QCoreApplication::translate("kvex", "Value under the pointer"));
        readout_->setText(QCoreApplication::translate(
            "kvex", "Wheel: zoom, drag: pan, right-drag or Shift-drag: select a span, "
                    "click: pick a time"));
        layout->addWidget(readout_);

        auto *buttons = new QHBoxLayout;
        auto *showAllButton =
            new QPushButton(QCoreApplication::translate("kvex", "Show &all"), this);
        showAllButton->setObjectName("recordingShowAll");
        showAllButton->setToolTip(
            QCoreApplication::translate("kvex", "Zoom out to the whole recording"));
        auto *wholeButton =
            new QPushButton(QCoreApplication::translate("kvex", "&Whole recording"), this);
        wholeButton->setObjectName("recordingWhole");
        wholeButton->setToolTip(QCoreApplication::translate(
            "kvex", "Statistics over the whole recording instead of the selected span"));
        auto *reportButton = new QPushButton(QCoreApplication::translate("kvex", "&Report…"), this);
        reportButton->setObjectName("recordingReport");
        reportButton->setToolTip(
            QCoreApplication::translate("kvex", "Commissioning report (PDF) of the selected span"));
        spanText_ = new QLabel(this);
        spanText_->setObjectName("recordingSpan");
        buttons->addWidget(showAllButton);
        buttons->addWidget(wholeButton);
        buttons->addWidget(reportButton);
        buttons->addWidget(spanText_, 1);
        layout->addLayout(buttons);

        auto *lower = new QHBoxLayout;
        auto *figures = new QFormLayout;
        const RecordingSummary first = source_->summary(from_, to_);
        for (const RecordingFigure &figure : first.figures) {
            auto *value = new QLabel(this);
            value->setObjectName(QString::fromStdString("recordingStat" + figure.key));
            value->setAccessibleName(kvexplatform::shownText(figure.label.c_str()));
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            figures->addRow(kvexplatform::shownText(figure.label.c_str()), value);
            figureLabels_.push_back(value);
        }
        lower->addLayout(figures);
        histogram_ = new QCustomPlot(this);
        histogram_->setObjectName("recordingHistogram" + suffix);
        histogram_->setAccessibleName(QCoreApplication::translate("kvex", "Histogram of the span"));
        histogram_->xAxis->setLabel(QCoreApplication::translate("kvex", "Measured value (units)"));
        histogram_->yAxis->setLabel(QCoreApplication::translate("kvex", "Samples"));
        lower->addWidget(histogram_, 1);
        video_ = new QCustomPlot(this);
        video_->setObjectName("recordingVideo" + suffix);
        video_->setAccessibleName(
            QCoreApplication::translate("kvex", "Video line nearest the selected time"));
        video_->xAxis->setLabel(QCoreApplication::translate("kvex", "Position"));
        video_->yAxis->setLabel(QCoreApplication::translate("kvex", "Level"));
        video_->addGraph()->setPen(QPen(QColor(0x20, 0x80, 0x30)));
        threshold_ = new QCPItemStraightLine(video_);
        threshold_->setPen(QPen(QColor(0xC0, 0x20, 0x20), 1.0, Qt::DashLine));
        video_->setVisible(source_->hasVideo());
        lower->addWidget(video_, 1);
        layout->addLayout(lower, 2);

        skipped_ = new QLabel(this);
        skipped_->setObjectName("recordingSkipped");
        skipped_->setAccessibleName(QCoreApplication::translate("kvex", "Skipped rows"));
        skipped_->setWordWrap(true);
        skipped_->setText(shown(source_->skippedText()));
        skipped_->setVisible(!skipped_->text().isEmpty());
        layout->addWidget(skipped_);
        status_ = new QLabel(this);
        status_->setObjectName("recordingStatus");
        layout->addWidget(status_);

        source_->valueRange(&lowest_, &highest_);
        const double margin = std::max((highest_ - lowest_) * 0.05, 1.0);
        chart_->yAxis->setRange(lowest_ - margin, highest_ + margin);

        connect(showAllButton, &QPushButton::clicked, this, [this] { showAll(); });
        connect(wholeButton, &QPushButton::clicked, this, [this] { selectSpan(whole()); });
        connect(reportButton, &QPushButton::clicked, this, [this] {
            std::vector<std::string> graphs = {chart_->objectName().toStdString(),
                                               histogram_->objectName().toStdString()};
            if (source_->hasVideo())
                graphs.push_back(video_->objectName().toStdString());
            status_->setText(shown(source_->writeReport(from_, to_, graphs)));
        });
        connect(chart_->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
                [this] { requestEnvelope(); });
        connect(chart_, &QCustomPlot::mousePress, this, &RecordingWindow::press);
        connect(chart_, &QCustomPlot::mouseMove, this, &RecordingWindow::move);
        connect(chart_, &QCustomPlot::mouseRelease, this, &RecordingWindow::release);
        envelopeTimer_.setSingleShot(true);
        connect(&envelopeTimer_, &QTimer::timeout, this, [this] { drawEnvelope(); });

        showAll();
        showSummary(first);
        pickTime(picked_);
        kvexplatform::placeWindow(this, QSize(1000, 720));
    }

  protected:
    void resizeEvent(QResizeEvent *event) override {
        QWidget::resizeEvent(event);
        requestEnvelope();
    }

  private:
    QCPRange whole() const { return QCPRange(source_->firstTime(), source_->lastTime()); }

    void showAll() {
        const QCPRange all = whole();
        const double margin = std::max(all.size() * 0.01, 0.5);
        chart_->xAxis->setRange(all.lower - margin, all.upper + margin);
        drawEnvelope();
    }

    // Many range changes in one pass (a wheel turn, a drag) cost one envelope.
    void requestEnvelope() {
        if (!envelopeTimer_.isActive())
            envelopeTimer_.start(0);
    }

    void drawEnvelope() {
        envelopeTimer_.stop();
        const QCPRange shownRange = chart_->xAxis->range();
        // The chart's width: a few columns more than the axis rectangle's pixels, never fewer.
        const int columns = std::max(chart_->width(), 100);
        std::vector<double> low, high;
        source_->envelope(shownRange.lower, shownRange.upper, columns, low, high);
        QVector<double> keys, values;
        keys.reserve(2 * columns);
        values.reserve(2 * columns);
        const double step = shownRange.size() / columns;
        for (int c = 0; c < columns; ++c) {
            if (std::isnan(low[c]))
                continue;
            const double x = shownRange.lower + (c + 0.5) * step;
            keys << x << x;
            values << low[c] << high[c];
        }
        envelope_->setData(keys, values, true);
        ticker_->setDateTimeFormat(
            shownRange.size() < 60
                ? "hh:mm:ss.zzz"
                : (shownRange.size() < 2 * 86400 ? "hh:mm:ss" : "yyyy-MM-dd\nhh:mm"));
        chart_->replot(QCustomPlot::rpQueuedReplot);
    }

    void selectSpan(const QCPRange &range) {
        from_ = std::min(range.lower, range.upper);
        to_ = std::max(range.lower, range.upper);
        showSummary(source_->summary(from_, to_));
    }

    void showSummary(const RecordingSummary &summary) {
        span_->setVisible(whole() != QCPRange(from_, to_));
        span_->topLeft->setCoords(from_, 0);
        span_->bottomRight->setCoords(to_, 1);
        for (std::size_t i = 0; i < summary.figures.size() && i < figureLabels_.size(); ++i) {
            figureLabels_[i]->setText(shown(summary.figures[i].value));
            if (summary.figures[i].key == "Cp" || summary.figures[i].key == "Cpk")
                figureLabels_[i]->setToolTip(shown(summary.capabilityNote));
        }
        spanText_->setText(shown(summary.span));
        spanText_->setToolTip(shown(summary.capabilityNote));
        kvexplatform::plotHistogram(histogram_, summary.counts.data(),
                                    static_cast<int>(summary.counts.size()), summary.lower,
                                    summary.binWidth, summary.markers);
        chart_->replot(QCustomPlot::rpQueuedReplot);
    }

    void pickTime(double time) {
        picked_ = time;
        cursor_->point1->setCoords(time, 0);
        cursor_->point2->setCoords(time, 1);
        chart_->replot(QCustomPlot::rpQueuedReplot);
        if (!source_->hasVideo())
            return;
        const RecordingVideoLine line = source_->videoLine(time);
        QVector<double> x, y;
        for (std::size_t i = 0; i < line.samples.size(); ++i) {
            x << 4.0 * static_cast<double>(i);
            y << line.samples[i];
        }
        video_->graph(0)->setData(x, y, true);
        threshold_->point1->setCoords(0, line.threshold);
        threshold_->point2->setCoords(1, line.threshold);
        video_->xAxis->setRange(0, 4.0 * std::max<int>(static_cast<int>(x.size()) - 1, 1));
        video_->yAxis->setRange(
            0, std::max(line.threshold, y.isEmpty() ? 1.0 : *std::max_element(y.begin(), y.end())) *
                       1.1 +
                   1);
        video_->setToolTip(shown(line.caption));
        video_->xAxis->setLabel(shown(line.caption));
        video_->replot(QCustomPlot::rpQueuedReplot);
    }

    bool selecting(QMouseEvent *event) const {
        return event->button() == Qt::RightButton ||
               (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
    }

    void press(QMouseEvent *event) {
        pressedAt_ = event->pos();
        selectingSpan_ = selecting(event);
        // A span is chosen with the button held: the chart must not pan meanwhile.
        chart_->setInteraction(QCP::iRangeDrag, !selectingSpan_);
        if (selectingSpan_) {
            anchor_ = chart_->xAxis->pixelToCoord(event->pos().x());
            span_->setVisible(true);
            span_->topLeft->setCoords(anchor_, 0);
            span_->bottomRight->setCoords(anchor_, 1);
        }
    }

    void move(QMouseEvent *event) {
        const double time = chart_->xAxis->pixelToCoord(event->pos().x());
        readout_->setText(shown(source_->readout(time)));
        if (selectingSpan_) {
            span_->bottomRight->setCoords(time, 1);
            chart_->replot(QCustomPlot::rpQueuedReplot);
        }
    }

    void release(QMouseEvent *event) {
        chart_->setInteraction(QCP::iRangeDrag, true);
        const bool click = (event->pos() - pressedAt_).manhattanLength() < kClickDistance;
        const double time = chart_->xAxis->pixelToCoord(event->pos().x());
        if (selectingSpan_) {
            selectingSpan_ = false;
            if (click)
                selectSpan(QCPRange(from_, to_));
            else
                selectSpan(QCPRange(anchor_, time));
        } else if (click && event->button() == Qt::LeftButton) {
            pickTime(time);
        }
    }

    std::shared_ptr<RecordingSource> source_;
    QCustomPlot *chart_ = nullptr, *histogram_ = nullptr, *video_ = nullptr;
    QSharedPointer<QCPAxisTickerDateTime> ticker_;
    QCPGraph *envelope_ = nullptr;
    QCPItemRect *span_ = nullptr;
    QCPItemStraightLine *cursor_ = nullptr, *threshold_ = nullptr;
    QLabel *readout_ = nullptr, *spanText_ = nullptr, *skipped_ = nullptr, *status_ = nullptr;
    std::vector<QLabel *> figureLabels_;
    QTimer envelopeTimer_;
    double from_ = 0.0, to_ = 0.0, picked_ = 0.0, anchor_ = 0.0;
    double lowest_ = 0.0, highest_ = 0.0;
    QPoint pressedAt_;
    bool selectingSpan_ = false;
};

} // namespace

int ShowRecordingWindow(std::shared_ptr<RecordingSource> source) {
    if (!source || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return -1;
    static int windows = 0;
    auto *window = new RecordingWindow(std::move(source), ++windows);
    window->show();
    window->raise();
    return 0;
}
