// The commissioning report as a PDF: text, the parameter table and the panel's graphs as vector
// pictures, written through a temporary file; and the dialog that asks for it.
#include "platform/report.h"
#include "platform/core/translation.h"
#include "platform/qtaccess.h"
#include "platform/tr.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPageSize>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <qcustomplot.h>

#include <algorithm>

namespace {

kvexplatform::ReportSetupHook setupHook;

// Headings and labels in the operator's language; values and the note as they are.
QString qs(const std::string &text) {
    return kvexplatform::shownText(text.c_str());
}

QCustomPlot *namedPlot(const std::string &name) {
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->objectName() == QString::fromStdString(name))
            if (auto *plot = qobject_cast<QCustomPlot *>(window))
                return plot;
        if (auto *plot = window->findChild<QCustomPlot *>(QString::fromStdString(name)))
            return plot;
    }
    return nullptr;
}

// Page geometry in points (the writer runs at 72 dots per inch).
constexpr int kDpi = 72;
constexpr double kLine = 11.5;
constexpr double kGap = 10.0;

class PageWriter {
  public:
    PageWriter(QCPPainter &painter, double width) : p_(painter), width_(width) {}

    double y = 0.0;

    void title(const std::string &text) {
        setFont(15, true);
        p_.drawText(QRectF(0, y, width_, 22), Qt::AlignLeft | Qt::AlignVCenter, qs(text));
        y += 26;
    }

    // A heading and key/value rows in a column of the page; returns the height used.
    double rows(double x, double top, double width, double keyWidth, const std::string &heading,
                const ReportRows &rows) {
        double at = top;
        at += headingAt(x, at, width, heading);
        setFont(8.5, false);
        for (const auto &row : rows) {
            p_.drawText(QRectF(x, at, keyWidth, kLine), Qt::AlignLeft | Qt::AlignVCenter,
                        qs(row.first));
            p_.drawText(QRectF(x + keyWidth, at, width - keyWidth, kLine),
                        Qt::AlignLeft | Qt::AlignVCenter, qs(row.second));
            at += kLine;
        }
        return at - top;
    }

    double parameters(double x, double top, double width, const std::vector<ReportParameter> &list,
                      const std::string &note) {
        double at = top;
        at += headingAt(x, at, width, kvex::tr("Parameter set"));
        const double cols[] = {x, x + 18, x + width * 0.5, x + width * 0.68};
        setFont(8.5, false);
        int word = 0;
        for (const ReportParameter &parameter : list) {
            p_.drawText(QRectF(cols[0], at, 18, kLine), Qt::AlignLeft | Qt::AlignVCenter,
                        QString::number(word++));
            p_.drawText(QRectF(cols[1], at, cols[2] - cols[1], kLine),
                        Qt::AlignLeft | Qt::AlignVCenter, qs(parameter.name));
            p_.drawText(QRectF(cols[2], at, cols[3] - cols[2] - 6, kLine),
                        Qt::AlignRight | Qt::AlignVCenter, qs(parameter.value));
            p_.drawText(QRectF(cols[3], at, x + width - cols[3], kLine),
                        Qt::AlignLeft | Qt::AlignVCenter, qs(parameter.mark));
            at += kLine;
        }
        if (!note.empty()) {
            setFont(7.5, false);
            const QRectF box(x, at + 2, width, 3 * kLine);
            const QRectF used = p_.boundingRect(box, Qt::AlignLeft | Qt::TextWordWrap, qs(note));
            p_.drawText(box, Qt::AlignLeft | Qt::TextWordWrap, qs(note));
            at += 2 + used.height();
        }
        return at - top;
    }

    void graph(const ReportGraph &graph, double x, double top, double width, double height) {
        setFont(8.5, true);
        p_.drawText(QRectF(x, top, width, kLine), Qt::AlignLeft | Qt::AlignVCenter,
                    qs(graph.caption));
        QCustomPlot *plot = graph.widgetName.empty()
                                ? qobject_cast<QCustomPlot *>(
                                      kvexplatform::controlWidget(graph.panel, graph.control))
                                : namedPlot(graph.widgetName);
        if (!plot)
            return;
        p_.save();
        p_.translate(x, top + kLine + 2);
        p_.setClipRect(QRectF(0, 0, width, height - kLine - 2));
        plot->toPainter(&p_, static_cast<int>(width), static_cast<int>(height - kLine - 2));
        p_.restore();
    }

    // The note's height when set in `width`.
    double noteHeight(const std::string &note, double width) {
        setFont(9, false);
        return p_.boundingRect(QRectF(0, 0, width, 10000), Qt::AlignLeft | Qt::TextWordWrap,
                               qs(note))
                   .height() +
               16;
    }

    void note(const std::string &note, double width) {
        y += headingAt(0, y, width, kvex::tr("Operator's note"));
        setFont(9, false);
        const QRectF box(0, y, width, 10000);
        const QRectF used = p_.boundingRect(box, Qt::AlignLeft | Qt::TextWordWrap, qs(note));
        p_.drawText(box, Qt::AlignLeft | Qt::TextWordWrap, qs(note));
        y += used.height();
    }

  private:
    double headingAt(double x, double top, double width, const std::string &text) {
        setFont(10, true);
        p_.drawText(QRectF(x, top, width, 14), Qt::AlignLeft | Qt::AlignVCenter, qs(text));
        p_.setPen(QPen(Qt::gray, 0.5));
        p_.drawLine(QPointF(x, top + 14.5), QPointF(x + width, top + 14.5));
        p_.setPen(Qt::black);
        return 17;
    }

    void setFont(double points, bool bold) {
        QFont font("Sans Serif");
        font.setPointSizeF(points);
        font.setBold(bold);
        p_.setFont(font);
    }

    QCPPainter &p_;
    double width_;
};

bool paintReport(QPdfWriter &writer, const ReportDocument &document) {
    QCPPainter painter;
    if (!painter.begin(&writer))
        return false;
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    const QRect page = writer.pageLayout().paintRectPixels(kDpi);
    const double width = page.width(), height = page.height();
    PageWriter out(painter, width);

    out.title(document.title);
    out.y +=
        out.rows(0, out.y, width, 90, kvex::tr("Sensor and connection"), document.header) + kGap;

    const double left = width * 0.56, right = width - left - 14;
    const double used = std::max(
        out.parameters(0, out.y, left, document.parameters, document.parameterNote),
        out.rows(left + 14, out.y, right, 92,
                 document.statisticsHeading.empty() ? kvex::tr("Statistics of the last run")
                                                    : document.statisticsHeading,
                 document.statistics));
    out.y += used + kGap;

    constexpr double graphHeight = 165;
    if (!document.graphs.empty()) {
        out.graph(document.graphs.front(), 0, out.y, width, graphHeight);
        out.y += graphHeight + kGap / 2;
    }
    const int others = static_cast<int>(document.graphs.size()) - 1;
    for (int i = 0; i < others; ++i) {
        const double share = (width - (others - 1) * 14) / others;
        out.graph(document.graphs[i + 1], i * (share + 14), out.y, share, graphHeight);
    }
    if (others > 0)
        out.y += graphHeight + kGap;

    if (!document.note.empty()) {
        if (out.y + out.noteHeight(document.note, width) > height) {
            writer.newPage();
            out.y = 0;
        }
        out.note(document.note, width);
    }
    return painter.end();
}

} // namespace

namespace kvexplatform {
void setReportSetupHook(ReportSetupHook hook) {
    setupHook = std::move(hook);
}
} // namespace kvexplatform

bool ReportSetupPopup(ReportRequest &request) {
    if (setupHook)
        return setupHook(request);
    QDialog dialog;
    dialog.setWindowTitle(QCoreApplication::translate("kvex", "Commissioning report"));
    auto *form = new QFormLayout(&dialog);
    auto *path = new QLineEdit(qs(request.path));
    path->setObjectName("reportPath");
    path->setMinimumWidth(360);
    auto *browse = new QPushButton(QCoreApplication::translate("kvex", "&Browse…"));
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(path, 1);
    pathRow->addWidget(browse);
    form->addRow(QCoreApplication::translate("kvex", "&File"), pathRow);
    auto *pageSize = new QComboBox;
    pageSize->setObjectName("reportPageSize");
    pageSize->addItems({"A4", "Letter"});
    pageSize->setCurrentIndex(request.letter ? 1 : 0);
    form->addRow(QCoreApplication::translate("kvex", "&Page size"), pageSize);
    auto *note = new QPlainTextEdit(qs(request.note));
    note->setObjectName("reportNote");
    note->setPlaceholderText(QCoreApplication::translate(
        "kvex", "Optional: where the sensor is fitted, what was set and why"));
    form->addRow(QCoreApplication::translate("kvex", "&Note"), note);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(browse, &QPushButton::clicked, [&] {
        const QString chosen = QFileDialog::getSaveFileName(
            &dialog, QCoreApplication::translate("kvex", "Report file"), path->text(),
            QCoreApplication::translate("kvex", "PDF documents (*.pdf)"));
        if (!chosen.isEmpty())
            path->setText(chosen);
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, [&] {
        if (!path->text().trimmed().isEmpty())
            dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    request.path = path->text().trimmed().toStdString();
    request.note = note->toPlainText().toStdString();
    request.letter = pageSize->currentIndex() == 1;
    return true;
}

int WriteReportPdf(const ReportDocument &document, const ReportRequest &request,
                   std::string &error) {
    QSaveFile file(qs(request.path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return -1;
    }
    bool painted = false;
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(request.letter ? QPageSize::Letter : QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        writer.setResolution(kDpi);
        writer.setTitle(qs(document.title));
        writer.setCreator("K-VEX-RTN");
        painted = paintReport(writer, document);
    }
    if (!painted || file.error() != QFileDevice::NoError) {
        error =
            painted ? file.errorString().toStdString() : kvex::trNow("the page could not be drawn");
        // Not committed: the temporary file goes, whatever stood at the path stays.
        file.cancelWriting();
        return -1;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return -1;
    }
    return 0;
}
