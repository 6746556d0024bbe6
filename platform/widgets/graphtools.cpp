// Graph pictures, strip-chart points and fitting, over the panel's QCustomPlot widgets.
#include "platform/graphtools.h"
#include "platform/widgets/graphwidgets.h"
#include "platform/qtaccess.h"
#include "platform/userint.h"

#include <QFile>
#include <QFileInfo>

namespace {

OperatorView *operatorViewOf(QWidget *widget) {
    if (auto *graph = qobject_cast<KvexGraph *>(widget))
        return graph->operatorView();
    if (auto *strip = qobject_cast<KvexStripChart *>(widget))
        return strip->operatorView();
    return nullptr;
}

} // namespace

int SaveGraphImage(int panel, int control, const char *fileName) {
    auto *plot = qobject_cast<QCustomPlot *>(kvexplatform::controlWidget(panel, control));
    if (!plot || !fileName)
        return UIE_INVALID_CONTROL;
    const QString path = QFile::decodeName(fileName);
    const QString suffix = QFileInfo(path).suffix().toLower();
    // A hidden graph has no size of its own yet; the picture gets a readable one.
    const int width = plot->width() > 100 ? plot->width() : 800;
    const int height = plot->height() > 60 ? plot->height() : 400;
    bool saved = false;
    if (suffix == "pdf")
        saved = plot->savePdf(path, width, height);
    else if (suffix == "png")
        saved = plot->savePng(path, width, height);
    return saved ? 0 : UIE_FILE_WRITE_ERROR;
}

int GetStripChartTrace(int panel, int control, int trace, double *values, int maxValues) {
    auto *strip = qobject_cast<KvexStripChart *>(kvexplatform::controlWidget(panel, control));
    if (!strip || !values)
        return UIE_INVALID_CONTROL;
    const std::vector<double> samples = strip->traceSamples(trace);
    const int count = std::min(maxValues, static_cast<int>(samples.size()));
    std::copy(samples.begin(), samples.begin() + count, values);
    return count;
}

int FitGraph(int panel, int control) {
    OperatorView *view = operatorViewOf(kvexplatform::controlWidget(panel, control));
    if (!view)
        return UIE_INVALID_CONTROL;
    view->fit();
    return 0;
}
