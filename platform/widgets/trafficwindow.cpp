// The monitor window over Qt Widgets: a table refreshed from the program's record a few times a
// second, with Pause, Clear and Save buttons.
#include "platform/trafficwindow.h"
#include "platform/core/translation.h"
#include "platform/qtaccess.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/widgets/windowplacement.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QBrush>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Often enough to follow run mode by eye, seldom enough to cost little while open.
constexpr int kRefreshMs = 250;
constexpr int kPathSize = 260;

class RowModel : public QAbstractTableModel {
  public:
    explicit RowModel(std::vector<std::string> columns, QObject *parent)
        : QAbstractTableModel(parent), columns_(std::move(columns)) {}

    void setRows(std::vector<TrafficWindowRow> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }

    int rowCount(const QModelIndex &parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex &parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(columns_.size());
    }
    QVariant data(const QModelIndex &index, int role) const override {
        const TrafficWindowRow &row = rows_[static_cast<size_t>(index.row())];
        if (role == Qt::DisplayRole && index.column() < static_cast<int>(row.cells.size()))
            return QString::fromStdString(row.cells[static_cast<size_t>(index.column())]);
        if (role == Qt::ForegroundRole && row.marked)
            return QBrush(Qt::red);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role == Qt::DisplayRole && orientation == Qt::Horizontal)
            return kvexplatform::shownText(columns_[static_cast<size_t>(section)].c_str());
        return QAbstractTableModel::headerData(section, orientation, role);
    }

  private:
    std::vector<std::string> columns_;
    std::vector<TrafficWindowRow> rows_;
};

class TrafficWindow : public QWidget {
  public:
    TrafficWindow(QWidget *panel, const TrafficWindowSource &source)
        : QWidget(panel, Qt::Window), source_(source) {
        setObjectName("TrafficWindow");
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(kvexplatform::shownText(source.title.c_str()));
        model_ = new RowModel(source.columns, this);
        auto *table = new QTableView(this);
        table->setObjectName("TABLETraffic");
        table->setModel(model_);
        table->verticalHeader()->hide();
        table->setWordWrap(false);
        table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        // Fixed sizes: 2 000 rows measured on every refresh would cost more than the rows.
        const QFontMetrics metrics(table->font());
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table->verticalHeader()->setDefaultSectionSize(metrics.height() + 4);
        QHeaderView *header = table->horizontalHeader();
        for (size_t i = 0; i < source.columns.size(); ++i) {
            const int chars = i < source.widths.size() ? source.widths[i] : 0;
            if (chars > 0) {
                header->setSectionResizeMode(static_cast<int>(i), QHeaderView::Interactive);
                header->resizeSection(static_cast<int>(i),
                                      metrics.horizontalAdvance('0') * chars + 12);
            } else {
                header->setSectionResizeMode(static_cast<int>(i), QHeaderView::Stretch);
            }
        }
        table_ = table;

        auto *pause = new QPushButton(QCoreApplication::translate("kvex", "&Pause"), this);
        pause->setObjectName("BTNTrafficPause");
        pause->setCheckable(true);
        auto *clear = new QPushButton(QCoreApplication::translate("kvex", "&Clear"), this);
        clear->setObjectName("BTNTrafficClear");
        auto *save = new QPushButton(QCoreApplication::translate("kvex", "&Save…"), this);
        save->setObjectName("BTNTrafficSave");
        status_ = new QLabel(this);
        status_->setObjectName("TEXTTrafficStatus");
        // Wrapped, so a long count never holds the window wider than a panel PC's screen.
        status_->setWordWrap(true);

        auto *buttons = new QHBoxLayout;
        buttons->addWidget(pause);
        buttons->addWidget(clear);
        buttons->addWidget(save);
        buttons->addWidget(status_, 1);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(table);
        layout->addLayout(buttons);
        kvexplatform::placeWindow(this, QSize(1100, 440));

        connect(pause, &QPushButton::toggled, this, [this](bool paused) {
            paused_ = paused;
            source_.pause(paused);
            status_->setText(paused ? QCoreApplication::translate("kvex", "Paused") : QString());
        });
        connect(clear, &QPushButton::clicked, this, [this] {
            source_.clear();
            refresh();
        });
        connect(save, &QPushButton::clicked, this, [this] { saveRecord(); });
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (!paused_)
                refresh();
        });
        source_.record(true);
        recording_ = true;
        timer_.start(kRefreshMs);
    }

    void refresh() {
        const unsigned long version = source_.version();
        if (version == shown_)
            return;
        shown_ = version;
        model_->setRows(source_.rows());
        table_->scrollToBottom();
    }

    ~TrafficWindow() override { stopRecording(); }

  protected:
    void closeEvent(QCloseEvent *event) override {
        stopRecording();
        event->accept();
    }

  private:
    void stopRecording() {
        timer_.stop();
        if (recording_)
            source_.record(false);
        recording_ = false;
    }

    void saveRecord() {
        char path[kPathSize] = "";
        const int chosen = FileSelectPopup("", "traffic.txt", "*.txt", kvex::tr("Save traffic"),
                                           VAL_OK_BUTTON, 0, 1, 1, 1, path);
        if (chosen <= 0)
            return;
        status_->setText(source_.save(path)
                             ? QCoreApplication::translate("kvex", "Saved to %1")
                                   .arg(QString::fromLocal8Bit(path))
                             : QCoreApplication::translate("kvex", "Cannot write %1!")
                                   .arg(QString::fromLocal8Bit(path)));
    }

    TrafficWindowSource source_;
    RowModel *model_;
    QTableView *table_;
    QLabel *status_;
    QTimer timer_;
    bool paused_ = false;
    bool recording_ = false;
    unsigned long shown_ = ~0ul;
};

QPointer<TrafficWindow> window;

} // namespace

int OpenTrafficWindow(int panel, const TrafficWindowSource &source) {
    QWidget *parent = kvexplatform::panelWidget(panel);
    if (!parent)
        return UIE_INVALID_PANEL;
    if (!window) {
        window = new TrafficWindow(parent, source);
        window->refresh();
    }
    window->show();
    window->raise();
    window->activateWindow();
    return 0;
}
