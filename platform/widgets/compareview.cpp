// The compare view as a Qt dialog: a source chooser per side and a table of the words.
#include "platform/compareview.h"
#include "platform/core/translation.h"
#include "platform/widgets/windowplacement.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <vector>

namespace {

const QColor differs(255, 214, 140);

struct Side {
    QComboBox *chooser = nullptr;
    std::vector<unsigned short> words;
    bool read = false;
    QString reason;
};

class CompareView : public QDialog {
  public:
    CompareView(const char *const *sourceNames, int sourceCount, const char *const *wordNames,
                int wordCount, ParameterSetReader reader)
        : QDialog(QApplication::activeWindow()), wordCount_(wordCount), reader_(reader) {
        setObjectName("CompareView");
        setWindowTitle(QCoreApplication::translate("kvex", "Compare parameter sets"));
        auto *layout = new QVBoxLayout(this);
        auto *choosers = new QHBoxLayout;
        for (int s = 0; s < 2; ++s) {
            Side &side = sides_[s];
            side.chooser = new QComboBox(this);
            side.chooser->setObjectName(s == 0 ? "compareFirst" : "compareSecond");
            side.chooser->setAccessibleName(
                s == 0 ? QCoreApplication::translate("kvex", "First parameter set")
                       : QCoreApplication::translate("kvex", "Second parameter set"));
            for (int i = 0; i < sourceCount; ++i)
                side.chooser->addItem(kvexplatform::shownText(sourceNames[i]));
            if (s == 1)
                choosers->addWidget(new QLabel(QCoreApplication::translate("kvex", "with"), this));
            choosers->addWidget(side.chooser, 1);
        }
        layout->addLayout(choosers);

        table_ = new QTableWidget(wordCount, 4, this);
        table_->setObjectName("compareTable");
        table_->setAccessibleName(QCoreApplication::translate("kvex", "Parameter words"));
        table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table_->verticalHeader()->setVisible(false);
        table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
        for (int w = 0; w < wordCount; ++w) {
            table_->setItem(w, 0, new QTableWidgetItem(QString::number(w)));
            table_->setItem(w, 1, new QTableWidgetItem(kvexplatform::shownText(wordNames[w])));
            table_->setItem(w, 2, new QTableWidgetItem);
            table_->setItem(w, 3, new QTableWidgetItem);
            for (int c : {0, 2, 3})
                table_->item(w, c)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        layout->addWidget(table_, 1);

        summary_ = new QLabel(this);
        summary_->setObjectName("compareSummary");
        summary_->setAccessibleName(QCoreApplication::translate("kvex", "Comparison"));
        layout->addWidget(summary_);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
        kvexplatform::placeWindow(this, QSize(460, 560));
    }

    void choose(int first, int second) {
        sides_[0].chooser->setCurrentIndex(first);
        sides_[1].chooser->setCurrentIndex(second);
        readSide(0);
        readSide(1);
        for (int s = 0; s < 2; ++s)
            connect(sides_[s].chooser, qOverload<int>(&QComboBox::currentIndexChanged), this,
                    [this, s] { readSide(s); });
    }

  private:
    void readSide(int s) {
        Side &side = sides_[s];
        side.words.assign(static_cast<size_t>(wordCount_), 0);
        char reason[256] = "";
        side.read = reader_(side.chooser->currentIndex(), side.words.data(), reason,
                            static_cast<int>(sizeof reason)) >= 0;
        side.reason = kvexplatform::shownText(reason);
        refresh();
    }

    void refresh() {
        for (int s = 0; s < 2; ++s)
            table_->setHorizontalHeaderItem(2 + s,
                                            new QTableWidgetItem(sides_[s].chooser->currentText()));
        table_->setHorizontalHeaderItem(
            0, new QTableWidgetItem(QCoreApplication::translate("kvex", "Word")));
        table_->setHorizontalHeaderItem(
            1, new QTableWidgetItem(QCoreApplication::translate("kvex", "Name")));
        const bool both = sides_[0].read && sides_[1].read;
        int different = 0;
        for (int w = 0; w < wordCount_; ++w) {
            const bool differ = both && sides_[0].words[w] != sides_[1].words[w];
            different += differ ? 1 : 0;
            for (int c = 0; c < 4; ++c) {
                QTableWidgetItem *item = table_->item(w, c);
                item->setBackground(differ ? QBrush(differs) : QBrush());
                QFont font = item->font();
                font.setBold(differ);
                item->setFont(font);
            }
            for (int s = 0; s < 2; ++s)
                table_->item(w, 2 + s)->setText(sides_[s].read ? QString::number(sides_[s].words[w])
                                                               : QString("-"));
        }
        QStringList lines;
        for (int s = 0; s < 2; ++s)
            if (!sides_[s].read)
                lines << QString("%1: %2").arg(sides_[s].chooser->currentText(), sides_[s].reason);
        if (both)
            lines << (different == 0
                          ? QCoreApplication::translate("kvex", "All %1 words are equal.")
                                .arg(wordCount_)
                          : QCoreApplication::translate("kvex", "%1 of %2 words differ.")
                                .arg(different)
                                .arg(wordCount_));
        summary_->setText(lines.join("\n"));
    }

    int wordCount_;
    ParameterSetReader reader_;
    Side sides_[2];
    QTableWidget *table_ = nullptr;
    QLabel *summary_ = nullptr;
};

} // namespace

int CompareParameterSetsPopup(const char *const *sourceNames, int sourceCount,
                              const char *const *wordNames, int wordCount, int firstSource,
                              int secondSource, ParameterSetReader reader) {
    if (!sourceNames || !wordNames || !reader || sourceCount < 1 || wordCount < 1)
        return -1;
    CompareView view(sourceNames, sourceCount, wordNames, wordCount, reader);
    view.choose(firstSource, secondSource);
    view.exec();
    return 0;
}
