// What the operator sees: the focused control, windows that fit the screen, the list's header.
#include "configrun.h"

#include "ui/dialogs/frmchannels.h"
#include "ui/dialogs/frmnotice.h"
#include "ui/main/frmmain.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <map>

namespace ktq::test {
namespace {

QImage grabbed(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The share of the control's outer two pixels that differ between the two images.
double borderChange(const QImage& a, const QImage& b) {
    int ring = 0;
    int changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (std::min({x, y, a.width() - 1 - x, a.height() - 1 - y}) < 2) {
                ++ring;
                changed += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
            }
        }
    }
    return ring == 0 ? 0 : double(changed) / ring;
}

// Each control of the window that Tab reaches, drawn with and without the focus, differs all
// round its border.
void expectFocusShown(QWidget& window, const char* where) {
    window.show();
    QApplication::setActiveWindow(&window);
    QList<QWidget*> focusable;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() && w->window() == &window)
            focusable << w;
    }
    ASSERT_GE(focusable.size(), 2) << where;
    for (QWidget* control : focusable) {
        QWidget* other = focusable.front() == control ? focusable.back() : focusable.front();
        other->setFocus();
        const QImage without = grabbed(control);
        control->setFocus();
        ASSERT_TRUE(control->hasFocus()) << where << ' ' << control->objectName().toStdString();
        EXPECT_GT(borderChange(grabbed(control), without), 0.9)
            << where << ": the focus on " << control->objectName().toStdString() << " is not plain";
    }
}

TEST(Look, EveryFocusableControlOfEveryWindowShowsTheFocusRoundItsBorder) {
    Bench bench;
    ui::frmMain main(bench.session());
    expectFocusShown(main, "main window");
    FinishedRun finished; // the end-of-run buttons enabled
    expectFocusShown(*finished.window, "configuration window");
    double channel = 1;
    ui::frmChannels channels(channel, bench.interaction);
    expectFocusShown(channels, "channel dialog");
    ui::frmNotice notice(QStringLiteral("notice"));
    expectFocusShown(notice, "notice");
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Found a single device"), QStringLiteral("text"),
                    QMessageBox::Ok | QMessageBox::Cancel);
    expectFocusShown(box, "message box");
}

// A 7189 walked through all four channels, with an entry error, the exit question and the save:
// every control that a run shows has been shown, and the window has not changed its size.
TEST(Look, TheConfigurationWindowKeepsItsSizeOverAWhole7189RunAndFitsTheScreen) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7189");
    for (int k = 0; k < 4; ++k) // take the channel the dialog proposes
        run.bench.interaction.scripts.push_back(
            [](QDialog& dialog) { control<QPushButton>(dialog, "cmdChSel")->click(); });
    std::map<QString, QSize> sizes;
    const auto note = [&](const QString& step) {
        QCoreApplication::processEvents(); // the layouts' requests
        sizes[step] = run.window->frameGeometry().size();
    };
    run.open(QStringLiteral("7189"));
    run.window->show();
    const QSize opened = run.window->frameGeometry().size();
    const int entryWidth = control<QLineEdit>(*run.window, "txtChoice")->width();
    run.setAddress(QStringLiteral("99"));
    note(QStringLiteral("entry error"));
    run.setAddress(QStringLiteral("5"));
    for (int channel = 1; channel <= 4; ++channel) {
        for (int guard = 0; guard < 30 && run.button("cmdEnter")->isEnabled(); ++guard)
            run.enter();
        note(QStringLiteral("end of channel %1").arg(channel));
        EXPECT_EQ(control<QLineEdit>(*run.window, "txtChoice")->width(), entryWidth) << channel;
        if (channel < 4)
            run.button("cmdNextCh")->click();
    }
    run.button("cmdDone")->click();
    note(QStringLiteral("exit question"));
    run.button("cmdSav")->click();
    note(QStringLiteral("saved"));
    ASSERT_EQ(run.bench.sim.unitAt(5)->saveCount(), 1);
    for (const auto& [step, size] : sizes)
        EXPECT_EQ(size, opened) << step.toStdString();
    // Room for a window manager's frame and a panel on a 1024 x 768 screen.
    EXPECT_LE(opened.height(), 700);
    EXPECT_LE(opened.width(), 1000);
}

TEST(Look, TheMainWindowAndTheChannelDialogKeepTheirSizeWhenTheirMessageAppears) {
    Bench bench;
    ui::frmMain main(bench.session());
    double channel = 1;
    ui::frmChannels channels(channel, bench.interaction);
    for (QWidget* window : std::initializer_list<QWidget*>{&main, &channels}) {
        window->show();
        const QSize opened = window->frameGeometry().size();
        auto* message = window->findChild<ui::MessageLine*>();
        ASSERT_NE(message, nullptr);
        message->setVisible(true);
        QCoreApplication::processEvents();
        EXPECT_EQ(window->frameGeometry().size(), opened) << window->windowTitle().toStdString();
        EXPECT_LE(opened.height(), 700);
    }
}

// The columns of the pixels in the band of rows that differ from the band's commonest colour.
std::vector<int> inkColumns(const QImage& image, int top, int bottom) {
    std::map<QRgb, int> counts;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    const QRgb background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                                return a.second < b.second;
                            })->first;
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        for (int y = top; y < bottom; ++y)
            if (image.pixel(x, y) != background) {
                columns.push_back(x);
                break;
            }
    return columns;
}

// Where the text after the widest blank run of the band starts.
int afterWidestGap(const std::vector<int>& columns) {
    int best = 0;
    int at = -1;
    for (std::size_t k = 1; k < columns.size(); ++k)
        if (columns[k] - columns[k - 1] > best) {
            best = columns[k] - columns[k - 1];
            at = columns[k];
        }
    return at;
}

TEST(Look, CurrentSettingStandsOverTheSettingsInTheListsFont) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7121");
    run.open(QStringLiteral("7121"));
    run.setAddress(QStringLiteral("5"));
    run.window->show();
    QCoreApplication::processEvents();
    auto* header = control<QLabel>(*run.window, "labelFunction");
    auto* list = control<QListWidget>(*run.window, "lstFunction");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(header->font().family(), list->font().family());
    const QFontMetrics metrics(list->font()); // columns of blanks stand under each other
    EXPECT_EQ(metrics.horizontalAdvance(u'i'), metrics.horizontalAdvance(u'M'))
        << list->font().family().toStdString();
    list->setCurrentRow(-1);
    const QRect row = list->visualItemRect(list->item(0));
    const int setting = afterWidestGap(inkColumns(grabbed(list->viewport()), row.top(), row.bottom())) +
                        list->viewport()->mapTo(run.window.get(), QPoint()).x();
    const int title = afterWidestGap(inkColumns(grabbed(header), 0, header->height())) +
                      header->mapTo(run.window.get(), QPoint()).x();
    EXPECT_NEAR(title, setting, 2) << list->item(0)->text().toStdString();
}

} // namespace
} // namespace ktq::test
