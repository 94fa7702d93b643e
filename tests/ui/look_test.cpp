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

} // namespace
} // namespace ktq::test
