// What the operator sees: the focused control, windows that keep their size, the list's header.
#include "configrun.h"

#include "ui/dialogs/frmchannels.h"
#include "ui/dialogs/frmnotice.h"
#include "ui/dialogs/placement.h"
#include "ui/main/frmmain.h"
#include "ui/main/logo.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProxyStyle>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace ktq::test {
namespace {

QImage grabbed(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Each control of the window that Tab reaches differs, focused and not, all round its border.
void expectFocusShown(QWidget& window) {
    const std::string where = window.windowTitle().toStdString();
    window.show();
    QApplication::setActiveWindow(&window);
    QList<QWidget*> focusable;
    for (QWidget* w : window.findChildren<QWidget*>())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled())
            focusable << w;
    ASSERT_GE(focusable.size(), 2) << where;
    for (QWidget* control : focusable) {
        (focusable.front() == control ? focusable.back() : focusable.front())->setFocus();
        const QImage without = grabbed(control);
        control->setFocus();
        const QImage with = grabbed(control);
        int ring = 0, changed = 0;
        for (int y = 0; y < with.height(); ++y)
            for (int x = 0; x < with.width(); ++x)
                if (std::min({x, y, with.width() - 1 - x, with.height() - 1 - y}) < 2)
                    ++ring, changed += with.pixel(x, y) != without.pixel(x, y) ? 1 : 0;
        EXPECT_GT(changed, ring * 9 / 10) << where << ": " << control->objectName().toStdString();
    }
}

TEST(Look, EveryFocusableControlShowsTheFocusRoundItsBorderAndWindowsKeepTheirSize) {
    Bench bench;
    FinishedRun finished; // the end-of-run buttons enabled
    ui::frmMain main(bench.session());
    ui::frmChannels channels(1, bench.interaction);
    ui::frmNotice notice(QStringLiteral("notice"));
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("box"), {}, QMessageBox::Ok | QMessageBox::Cancel);
    for (QWidget* window :
         std::initializer_list<QWidget*>{&main, finished.window.get(), &channels, &notice, &box})
        expectFocusShown(*window);
    for (QWidget* window : std::initializer_list<QWidget*>{&main, &channels}) { // a status line keeps room
        const QSize shown = window->frameGeometry().size();
        window->findChild<ui::MessageLine*>()->setVisible(true);
        QCoreApplication::processEvents();
        EXPECT_EQ(window->frameGeometry().size(), shown) << window->windowTitle().toStdString();
    }
}

// The x, in the window, where the band's text resumes after its widest blank run.
int afterWidestGap(QWidget* widget, int top, int bottom) {
    const QImage image = grabbed(widget);
    const QRgb background = image.pixel(image.width() - 1, (top + bottom) / 2);
    int last = -1, best = 0, at = -1;
    for (int x = 0; x < image.width(); ++x)
        for (int y = top; y < bottom; ++y)
            if (image.pixel(x, y) != background) {
                if (last >= 0 && x - last > best)
                    best = x - last, at = x;
                last = x;
                break;
            }
    return at + widget->mapTo(widget->window(), QPoint()).x();
}

// A 7189 through all four channels, with an entry error, the exit question and the save: each
// control a run shows has appeared, and neither the window nor the entry box changed its size.
// "Current Setting" stands over the settings, in the list's fixed-pitch font.
TEST(Look, AWhole7189RunKeepsTheWindowsSizeOnTheScreenAndItsHeaderOverItsColumns) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7189");
    for (int k = 0; k < 4; ++k) // the channel the dialog proposes
        run.bench.interaction.scripts.push_back(
            [](QDialog& dialog) { control<QPushButton>(dialog, "cmdChSel")->click(); });
    run.open(QStringLiteral("7189"));
    run.window->show();
    auto* entry = control<QLineEdit>(*run.window, "txtChoice");
    const QSize opened = run.window->frameGeometry().size();
    const int entryWidth = entry->width();
    const auto unchanged = [&](const std::string& step) {
        QCoreApplication::processEvents(); // the layouts' requests
        EXPECT_EQ(run.window->frameGeometry().size(), opened) << step;
        EXPECT_EQ(entry->width(), entryWidth) << step;
    };
    run.setAddress(QStringLiteral("99"));
    unchanged("entry error");
    run.setAddress(QStringLiteral("5"));
    auto* header = control<QLabel>(*run.window, "labelFunction");
    auto* list = control<QListWidget>(*run.window, "lstFunction");
    EXPECT_EQ(header->font().family(), list->font().family());
    const QFontMetrics metrics(list->font()); // columns of blanks stand under each other
    EXPECT_EQ(metrics.horizontalAdvance(u'i'), metrics.horizontalAdvance(u'M'));
    const QRect row = list->visualItemRect(list->item(0));
    EXPECT_NEAR(afterWidestGap(header, 0, header->height()),
                afterWidestGap(list->viewport(), row.top(), row.bottom()), 2)
        << list->item(0)->text().toStdString();
    for (int channel = 1; channel <= 4; ++channel) {
        for (int guard = 0; guard < 30 && run.button("cmdEnter")->isEnabled(); ++guard)
            run.enter();
        unchanged("end of channel " + std::to_string(channel));
        if (channel < 4)
            run.button("cmdNextCh")->click();
    }
    run.button("cmdDone")->click();
    unchanged("exit question");
    run.button("cmdSav")->click();
    unchanged("saved");
    EXPECT_EQ(run.bench.sim.unitAt(5)->saveCount(), 1);
    // Room for a window manager's frame and a panel on a 1024 x 768 screen.
    EXPECT_LE(opened.height(), 700);
}

// A new window stands in the middle of the screen's free area, frame and all, wherever the
// window manager would have put it; one taller than the area keeps its title bar on the screen.
TEST(Look, ANewWindowStandsWholeOnTheScreenOrByItsTitleBar) {
    const QMargins frame(4, 24, 4, 4);
    const struct {
        QSize content;
        QRect area;
        QPoint at;
    } cases[] = {{{523, 690}, {0, 0, 1366, 728}, {417, 5}},   // a task bar below
                 {{523, 690}, {0, 30, 1024, 738}, {246, 40}}, // a panel above
                 {{523, 690}, {0, 0, 800, 600}, {134, 0}}};
    for (const auto& c : cases)
        EXPECT_EQ(ui::centredWithin(c.content, frame, c.area), c.at) << c.area.height();
}

// The menu bar's extension arrows, read from their files only once drawn, are the platform's own.
TEST(Look, TheMenuBarsArrowsAreThePlatformsOnceDrawn) {
    const auto* proxy = qobject_cast<const QProxyStyle*>(QApplication::style());
    ASSERT_NE(proxy, nullptr);
    for (const auto which :
         {QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton}) {
        const QImage base = proxy->baseStyle()->standardIcon(which).pixmap(16).toImage();
        EXPECT_FALSE(base.isNull());
        EXPECT_EQ(proxy->standardIcon(which).pixmap(16).toImage(), base);
    }
}

// The logo letters in the title's font at any size: within the box, above the bus line, as wide.
TEST(Look, TheLogosLettersFitItsBoxInAnyTitleFont) {
    std::vector<int> widths;
    for (const qreal points : {6.0, 10.8, 30.0}) {
        QFont lettering = QApplication::font();
        lettering.setPointSizeF(points);
        const QImage logo = ui::drawLogo(64, ui::titleFont(lettering)).toImage();
        QRect letters;
        for (int y = 0; y < 44; ++y) // the bus line starts at 44
            for (int x = 0; x < 64; ++x)
                letters |= logo.pixel(x, y) == 0xffffffff ? QRect(x, y, 1, 1) : QRect();
        EXPECT_TRUE(QRect(4, 6, 56, 34).contains(letters) && letters.width() > 36) << points << "pt";
        widths.push_back(letters.width());
    }
    EXPECT_LE(std::ranges::max(widths) - std::ranges::min(widths), 4);
}

} // namespace
} // namespace ktq::test
