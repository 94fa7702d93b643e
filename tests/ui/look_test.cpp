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
} // namespace
} // namespace ktq::test
