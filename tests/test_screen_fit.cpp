// The panel and its windows on the screens plants have: each opens inside the screen's free area
// and every widget is whole (inside its window, clear of its siblings, at least its minimum size,
// its text not cut), in English and German, at 100 %, 150 % and 200 %; and windows come back
// where the operator left them.
#include "app/measurement.h"
#include "app/recording/windowmodel.h"
#include "platform/language.h"
#include "platform/widgets/windowplacement.h"
#include "program_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cstdlib>
#include <fstream>

namespace {

// Every widget the panel file names, so the check covers what the operator is meant to see and
// not Qt's own parts (a spin box's line edit, a splitter's handle).
QStringList panelFileNames() {
    QFile file(KVEX_PANEL_FILE);
    QStringList names;
    if (!file.open(QIODevice::ReadOnly))
        return names;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"widget")
            names << xml.attributes().value("name").toString();
    return names;
}

// Widgets that show a text the operator must read whole: buttons and labels that are laid out
// (the header's labels sit where the program puts them). A combo box may cut a long port name by
// design: it is only held to its minimum.
bool showsWholeText(const QWidget *widget) {
    if (qobject_cast<const QAbstractButton *>(widget))
        return true;
    const auto *label = qobject_cast<const QLabel *>(widget);
    return label && !label->wordWrap() && label->pixmap().isNull() &&
           label->parentWidget()->layout();
}

QSize leastSize(const QWidget *widget) {
    const QSize hint = widget->minimumSizeHint();
    const QSize set = widget->minimumSize();
    return QSize(set.width() > 0 ? set.width() : hint.width(),
                 set.height() > 0 ? set.height() : hint.height());
}

// Checks the window against its screen's free area and the named widgets in it; returns how
// many visible widgets were checked.
int expectWhole(QWidget *window, const QStringList &names) {
    SCOPED_TRACE(window->objectName().toStdString());
    const QRect area = window->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(window->frameGeometry()))
        << "window " << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
        << window->frameGeometry().width() << "x" << window->frameGeometry().height()
        << " on a free area of " << area.width() << "x" << area.height();
    QList<QWidget *> shown;
    for (const QString &name : names)
        if (auto *widget = window->findChild<QWidget *>(name); widget && widget->isVisible())
            shown << widget;
    // The texts the program places itself (the header's) are held to the same bounds and kept
    // off the named widgets, though not to each other.
    const qsizetype named = shown.size();
    for (QWidget *label : window->findChildren<QWidget *>())
        if (label->property("kvexFreeLabel").toBool() && label->isVisible())
            shown << label;
    for (QWidget *widget : shown) {
        SCOPED_TRACE(widget->objectName().toStdString());
        const QRect where(widget->mapTo(window, QPoint(0, 0)), widget->size());
        EXPECT_TRUE(window->rect().contains(where));
        EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry()));
        const QSize least = leastSize(widget);
        EXPECT_GE(widget->width(), least.width());
        EXPECT_GE(widget->height(), least.height());
        if (showsWholeText(widget))
            EXPECT_GE(widget->width(), widget->sizeHint().width());
        for (qsizetype i = 0; i < named; ++i)
            if (QWidget *other = shown[i];
                other != widget && other->parentWidget() == widget->parentWidget() &&
                !other->property("overlay").toBool() && !widget->property("overlay").toBool() &&
                (shown.indexOf(widget) >= named || other->objectName() > widget->objectName()))
                EXPECT_FALSE(widget->geometry().intersects(other->geometry()))
                    << "overlaps " << other->objectName().toStdString();
    }
    return static_cast<int>(named);
}

QStringList childNames(QWidget *window) {
    QStringList names;
    for (QWidget *child : window->findChildren<QWidget *>())
        if (!child->objectName().isEmpty() && !child->objectName().startsWith("qt_"))
            names << child->objectName();
    return names;
}

QWidget *shownWindow(const char *name) {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == name && window->isVisible())
            return window;
    return nullptr;
}

struct Screen {
    const char *name;
    int width, height; // the screen's pixels
    const char *scale;
    const char *language;
};

const Screen screens[] = {
    {"panel_pc_1024x768_en", 1024, 768, "1", "en"},
    {"panel_pc_1024x768_de", 1024, 768, "1", "de"},
    {"panel_pc_1280x800_en", 1280, 800, "1", "en"},
    {"panel_pc_1280x800_de", 1280, 800, "1", "de"},
    {"laptop_1366x728_en", 1366, 728, "1", "en"},
    {"laptop_1366x728_de", 1366, 728, "1", "de"},
    {"desktop_1920x1080_en", 1920, 1080, "1", "en"},
    {"desktop_1920x1080_de", 1920, 1080, "1", "de"},
    {"desktop_1920x1080_at_150_en", 1920, 1080, "1.5", "en"},
    {"desktop_1920x1080_at_150_de", 1920, 1080, "1.5", "de"},
    {"uhd_3840x2160_at_200_en", 3840, 2160, "2", "en"},
    {"uhd_3840x2160_at_200_de", 3840, 2160, "2", "de"},
};

class ScreenFitTest : public CountingProgramTest {};

// In a child process of the test below, on the one screen it chose: run mode on the panel, the
// sensor information, then each window the panel opens.
TEST_F(ScreenFitTest, EverythingIsWholeInThisProcess) {
    const char *language = std::getenv("KVEX_FIT_LANGUAGE");
    if (!language)
        GTEST_SKIP() << "run by EverythingIsWholeOnTheScreen";
    kvexplatform::useLanguage(language, false);
    connect();
    QWidget *panel = mainPanel();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }, 10));
    runCycles("BTNRun", 20);
    QTest::qWait(100);
    const QStringList names = panelFileNames();
    ASSERT_GT(names.size(), 100);
    EXPECT_GE(expectWhole(panel, names), 100);
    // The graphs keep a useful size beside the parameter column.
    EXPECT_GE(find("GRAPHStrip")->width(), 300);
    EXPECT_GE(find("GRAPHStrip")->height(), 240);
    // Video mode with a proposal's bar under the graph: as proposed, then with the buttons it
    // has once checked (the wider pair).
    whenever([&] { return find("BTNPropose")->isEnabled(); },
             [&] {
                 click("BTNPropose");
                 QTest::qWait(100);
                 EXPECT_GE(expectWhole(panel, names), 100);
                 find("BTNProposeApply")->hide();
                 find("BTNProposeEeprom")->show();
                 QTest::qWait(100);
                 SCOPED_TRACE("with a proposal");
                 EXPECT_GE(expectWhole(panel, names), 100);
                 EXPECT_GE(find("GRAPHVideo")->height(), 150);
                 click("BTNProposeDiscard");
                 click("BTNStop");
             });
    click("BTNVideo");

    click("TOGGBTN_ParaII");
    QTest::qWait(50);
    if (QWidget *popup = shownWindow("PanelPopup"))
        EXPECT_GE(expectWhole(popup, names), 1);
    else
        ADD_FAILURE() << "no sensor information";

    click("BTNTraffic");
    ASSERT_TRUE(shownWindow("TrafficWindow"));
    QTest::qWait(50); // the frame is known once the window is shown
    EXPECT_GE(expectWhole(shownWindow("TrafficWindow"), childNames(shownWindow("TrafficWindow"))),
              4);

    click("BTNCheckPort");
    ASSERT_TRUE(waitUntil([] { return shownWindow("PortCheckWindow") != nullptr; }, 20));
    QTest::qWait(50);
    EXPECT_GE(
        expectWhole(shownWindow("PortCheckWindow"), childNames(shownWindow("PortCheckWindow"))), 1);

    int compareChecked = 0;
    whenever([] { return shownWindow("CompareView") != nullptr; },
             [&] {
                 QWidget *view = shownWindow("CompareView");
                 QTest::qWait(50);
                 compareChecked = expectWhole(view, childNames(view));
                 static_cast<QDialog *>(view)->reject();
             });
    click("BTNCompare");
    EXPECT_GE(compareChecked, 3);

    const std::string recording = dir.filePath("fit.csv").toStdString();
    {
        std::ofstream out(recording, std::ios::binary);
        out << measurementCsvHeader();
        for (int i = 0; i < 200; ++i) {
            const std::string time = "2026-12-08T04:35:" + std::to_string(10 + i / 10) + "." +
                                     std::to_string(i % 10) + "00Z";
            out << measurementCsvLine({time, 400, 600, static_cast<unsigned short>(480 + i % 40), 0,
                                       500, 100, true, 900, 100});
        }
    }
    ASSERT_TRUE(openRecording(recording));
    QWidget *window = shownWindow("RecordingWindow");
    ASSERT_TRUE(window);
    QTest::qWait(100);
    EXPECT_GE(expectWhole(window, childNames(window)), 10);
}

class ScreenFitRowTest : public ::testing::TestWithParam<Screen> {};

TEST_P(ScreenFitRowTest, EverythingIsWholeOnTheScreen) {
    const Screen &s = GetParam();
    QTemporaryDir dir;
    // Qt's offscreen platform with one screen of that size (1366 x 728: a laptop's room above its
    // bar); it draws a frame of 2 pixels as a window manager would.
    const QString config = dir.filePath("screen.json");
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString(R"({"screens": [{"name": "fit", "x": 0, "y": 0, "width": %1, "height": %2,
                          "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                   .arg(s.width)
                   .arg(s.height)
                   .toUtf8());
    file.close();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
    environment.insert("QT_SCALE_FACTOR", s.scale);
    environment.insert("KVEX_FIT_LANGUAGE", s.language);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=*EverythingIsWholeInThisProcess"});
    ASSERT_TRUE(child.waitForFinished(100000));
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenFitRowTest, ::testing::ValuesIn(screens),
                         [](const auto &info) { return std::string(info.param.name); });

// On a larger screen the extra room goes to the graphs, not to the parameter column.
TEST_F(ScreenFitTest, ExtraRoomGoesToTheGraphs) {
    startSensor();
    ASSERT_TRUE(startProgram());
    QWidget *panel = mainPanel();
    QTest::qWait(50);
    const int column = find("leftColumn")->width();
    const QSize video = find("GRAPHVideo")->size();
    panel->resize(panel->size() + QSize(500, 250));
    QTest::qWait(50);
    EXPECT_EQ(find("leftColumn")->width(), column);
    EXPECT_GE(find("GRAPHVideo")->width(), video.width() + 400);
    EXPECT_GE(find("GRAPHVideo")->height(), video.height() + 200);
    // The statistics can be dragged shut, the graphs and the parameter column cannot.
    auto *graphs = find<QSplitter>("splitterGraph");
    ASSERT_TRUE(graphs);
    EXPECT_EQ(graphs->widget(0)->objectName(), "graphArea");
    EXPECT_FALSE(graphs->isCollapsible(0));
    EXPECT_TRUE(graphs->childrenCollapsible());
    EXPECT_FALSE(find<QSplitter>("splitterBody")->childrenCollapsible());
}

// A window of its own name with a splitter, as the panel and the recording window have.
struct Window {
    explicit Window(const char *name) {
        widget.setObjectName(name);
        auto *splitter = new QSplitter(&widget);
        splitter->setObjectName("splitter");
        splitter->addWidget(new QLabel("left"));
        splitter->addWidget(new QLabel("right"));
        splitter->setMinimumSize(200, 100);
    }
    QSplitter *splitter() { return widget.findChild<QSplitter *>("splitter"); }
    QWidget widget;
};

// Size, position and splitters come back; a window never opens larger than the free area, nor
// off every screen (the one it was on gone), and first opens centred.
TEST(WindowPlacementTest, GeometryAndSplittersComeBackInsideTheScreen) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    {
        Window first("PlacedWindow");
        kvexplatform::placeWindow(&first.widget, QSize(600, 400));
        EXPECT_EQ(first.widget.size(), QSize(600, 400));
        EXPECT_LE((first.widget.geometry().center() - area.center()).manhattanLength(), 2);
        first.widget.show();
        first.widget.setGeometry(area.x() + 30, area.y() + 40, 700, 500);
        first.splitter()->resize(700, 500);
        first.splitter()->setSizes({150, 550});
        QTest::qWait(20);
        first.widget.hide();
    }
    {
        Window again("PlacedWindow");
        again.splitter()->resize(700, 500);
        kvexplatform::placeWindow(&again.widget, QSize(600, 400));
        EXPECT_EQ(again.widget.geometry(), QRect(area.x() + 30, area.y() + 40, 700, 500));
        EXPECT_NEAR(again.splitter()->sizes().value(0), 150, 2);
        // Left far off the screen, as when the window was on a second screen that is gone.
        again.widget.show();
        again.widget.move(area.right() + 3000, area.bottom() + 2000);
        QTest::qWait(20);
        again.widget.hide();
    }
    {
        Window back("PlacedWindow");
        kvexplatform::placeWindow(&back.widget, QSize(600, 400));
        EXPECT_TRUE(area.contains(back.widget.frameGeometry()))
            << back.widget.x() << "," << back.widget.y();
    }
    Window huge("HugeWindow");
    kvexplatform::placeWindow(&huge.widget, area.size() * 3);
    EXPECT_TRUE(area.contains(huge.widget.frameGeometry()));
}

} // namespace
