// The status line: plain guidance beside the bus error report, which stays as it is.
#include "configrun.h"

#include "bus/driverbases.h"
#include "bus/driverbus.h"
#include "bus/gpibconstants.h"
#include "run/advice.h"
#include "ui/dialogs/statusline.h"
#include "ui/main/frmmain.h"

#include <QAccessible>
#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace ktq::test {
namespace {

QString guidance(const QWidget& window) {
    return control<ui::StatusLine>(window, "statusLine")->text();
}

// QString::startsWith is false for an empty prefix on a cleared (null) text.
bool begins(const QString& text, const char* prefix) {
    return text.left(static_cast<qsizetype>(std::strlen(prefix))) == QLatin1String(prefix);
}

// The rule that fits names the right address and model, and nothing of another case. The
// bring-up cases of the window test below are not repeated.
TEST(Advice, EachFailureGetsItsOwnSentence) {
    using run::BusStep;
    const struct {
        run::BusStep step;
        const char* family;
        int iberr;
        std::int32_t count;
        const char* says;
        const char* never;
    } cases[] = {
        // linux-gpib's count for a board file it could not open means nothing from NI's driver.
        {run::BusStep::FindBoard, "NI-488.2", bus::ni::EDVR, EBADF, "could not open board GPIB0",
         "/dev/gpib0"},
        {run::BusStep::SetUpBoard, "linux-gpib", bus::ni::ENEB, 0, "no GPIB board GPIB0", "address"},
        {run::BusStep::ClearUnit, "linux-gpib", bus::ni::ENOL, 0, "No unit listens at address 12", "7121"},
        {run::BusStep::Query, "NI-488.2", bus::ni::EABO, 0, "not at address 12", "listens"},
        {run::BusStep::Query, "linux-gpib", bus::ni::EABO, 0, "as a 7121", "README"},
        {run::BusStep::Store, "linux-gpib", bus::ni::EABO, 0, "did not take the command", "7121"},
        // ENODEV in linux-gpib's count: the adapter is gone; NI's count 19 says nothing of the kind.
        {run::BusStep::Store, "linux-gpib", bus::ni::EDVR, ENODEV, "USB adapter is unplugged", "address 12"},
        {run::BusStep::Query, "NI-488.2", bus::ni::EDVR, ENODEV, "lost board GPIB0", "unplugged"},
        // Command transfers nobody takes: the code the driver gave is named.
        {run::BusStep::Search, "linux-gpib", bus::ni::EBUS, 0, "ended with EBUS <Command error>",
         "address 12"},
        {run::BusStep::ClearUnit, "linux-gpib", bus::ni::EBUS, 0, "address 12 were not taken", "search"},
        // An adapter that could not be used is no board to fit; without a library or an adapter,
        // the operator learns of both ways to reach the bus.
        {run::BusStep::FindBoard, "GPIB adapter", bus::ni::EDVR, 0, "KTQ_GPIB_ADAPTER, where it is set",
         "GPIB0"},
        {run::BusStep::FindBoard, "", bus::ni::EDVR, 0, "No GPIB driver library", "GPIB0"},
        {run::BusStep::FindBoard, "", bus::ni::EDVR, 0, "name it with KTQ_GPIB_ADAPTER", "gpib.conf"},
    };
    for (const auto& c : cases) {
        const QString advice = run::busAdvice(
            {c.step,
             {static_cast<std::int16_t>(bus::ni::ERR), static_cast<std::int16_t>(c.iberr), 0, c.count},
             c.family,
             QStringLiteral("12"),
             QStringLiteral("7121")});
        EXPECT_TRUE(advice.contains(QLatin1String(c.says))) << c.says << ": " << advice.toStdString();
        EXPECT_FALSE(advice.contains(QLatin1String(c.never))) << c.says << ": " << advice.toStdString();
    }
}

// linux-gpib reads the file IB_CONFIG names, else the gpib.conf of the sysconfdir it was built
// with: /usr/local/etc for a build from source with its defaults, /etc for most packages. The
// advice names the file where the program can tell, and both usual places where it cannot; the
// key that picks /dev/gpib0 is "minor", which no gpib.conf calls "board index".
TEST(Advice, AMissingConfigurationFileNamesTheFileLinuxGpibReads) {
    const bool wasSet = qEnvironmentVariableIsSet("IB_CONFIG");
    const QByteArray saved = qgetenv("IB_CONFIG");
    const struct {
        const char* ibConfig;
        std::vector<const char*> says;
        const char* never;
    } cases[] = {
        {nullptr, {"/usr/local/etc/gpib.conf", " /etc/gpib.conf", "minor = 0"}, "IB_CONFIG"},
        {"/opt/lab/gpib.conf", {"/opt/lab/gpib.conf (named by IB_CONFIG)", "minor = 0"}, "/usr/local/etc"},
    };
    for (const auto& c : cases) {
        if (c.ibConfig == nullptr) {
            qunsetenv("IB_CONFIG");
        } else {
            qputenv("IB_CONFIG", c.ibConfig);
        }
        for (long count : {long{ENOENT}, 0L}) {
            const QString advice = run::busAdvice(
                {run::BusStep::FindBoard,
                 {static_cast<std::int16_t>(bus::ni::ERR), static_cast<std::int16_t>(bus::ni::EDVR), 0,
                  static_cast<std::int32_t>(count)},
                 "linux-gpib",
                 {},
                 QStringLiteral("7174")});
            for (const char* says : c.says) {
                EXPECT_TRUE(advice.contains(QLatin1String(says))) << says << ": " << advice.toStdString();
            }
            EXPECT_FALSE(advice.contains(QLatin1String(c.never))) << advice.toStdString();
            EXPECT_FALSE(advice.contains(QLatin1String("board index"))) << advice.toStdString();
        }
    }
    if (wasSet) {
        qputenv("IB_CONFIG", saved);
    } else {
        qunsetenv("IB_CONFIG");
    }
}

// linux-gpib 4.3.5's ibfind, tried on a machine without a board: ERR, EDVR and errno in the
// count, 2 for a missing configuration file, 9 for a configured board without /dev/gpib0.
TEST(Advice, ConfigureWithoutBoardOrLibraryShowsTheReportAndWhatToCheck) {
    const struct {
        const char* family;
        long count;
        const char* says;
    } cases[] = {
        {"linux-gpib", 2, "no configuration file"},
        {"linux-gpib", 9, "read and write /dev/gpib0"},
#ifdef _WIN32
        {"", 0, "ni4882.dll"},
    };
    const auto readmeSection = QLatin1String("\"Windows\"");
#else
        {"", 0, "libni4882.so"},
    };
    const auto readmeSection = QLatin1String("\"Real hardware\"");
#endif
    for (const auto& c : cases) {
        Bench bench;
        // A driver library whose ibfind fails with that code and count.
        bus::FailingDriver driver(c.family, bus::ni::EDVR, c.count);
        bus::Gpib32 gpib(driver);
        bus::DriverBus messages(gpib);
        ui::frmMain window(bench.session(messages));
        auto* list = control<QListWidget>(window, "listUnit");
        list->setCurrentItem(list->findItems(QStringLiteral("7174"), Qt::MatchExactly).front());
        control<QPushButton>(window, "cmdConfig")->click();
        EXPECT_EQ(
            control<ui::MessageLine>(window, "txtGPIBErr")->text(),
            QStringLiteral("ibfind error,  ibsta = &H8000 <  ERR  >, iberr =  0 EDVR <Op System Error>, "
                           "ibcnt = ") +
                QString::number(c.count).rightJustified(2));
        EXPECT_TRUE(guidance(window).contains(QLatin1String(c.says))) << guidance(window).toStdString();
        EXPECT_TRUE(guidance(window).contains(readmeSection));
        EXPECT_TRUE(guidance(window).contains(run::readmePlace(QCoreApplication::applicationDirPath())));
    }
}

// The wrong row picked, or a unit that listens but never talks: said after the second query,
// naming the model and the address. A 7174 answers the first query of a 7121, the bus address,
// as units of every model do. No unit at the address typed: the device clear goes out as bus
// commands, which nobody acknowledges, so the first query is the first that nobody takes, and
// that, not the timeout of the read after it, is what the operator is told. After the search's
// box and after a value the unit refused, the line says what to do next.
TEST(Advice, EachStepSaysWhatWentWrongOrWhatToDoNext) {
    const char* found = "The address box holds the address the search found, 5: press Set Address";
    const struct {
        const char* model;
        const char* address;
        bool unit; // a 7174 at address 5
        bool silent;
        const char* typed; // for the first function after Set Address; null: Advance
        const char* afterOpen;
        const char* afterSet;
        const char* afterTwo;
    } cases[] = {
        {"7121", "5", true, false, nullptr, found, "", "The unit at address 5 does not answer as a 7121"},
        {"7174", "5", true, true, nullptr, found, "", "The unit at address 5 does not answer as a 7174"},
        {"7174", "6", true, false, nullptr, found, "No unit listens at address 6",
         "No unit listens at address 6"},
        {"7174", "5", true, false, nullptr, found, "", ""},
        {"7174", "5", false, false, nullptr, "No unit answered the search", "No unit listens at address 5",
         "No unit listens at address 5"},
        {"7174", "5", true, false, "999", found, "",
         "The unit at address 5 refused \"999\"; the prompt says what it takes: \"Bus Address - 0 to 30 or "
         "31\"."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " at " + c.address + ", typed " +
                     (c.typed ? c.typed : "nothing"));
        ConfigRun run;
        if (c.unit)
            run.bench.sim.addUnit(5, "7174");
        run.bench.sim.silence(5, c.silent);
        run.open(QString::fromLatin1(c.model));
        EXPECT_TRUE(begins(guidance(*run.window), c.afterOpen)) << guidance(*run.window).toStdString();
        run.setAddress(QString::fromLatin1(c.address));
        EXPECT_TRUE(begins(guidance(*run.window), c.afterSet)) << guidance(*run.window).toStdString();
        EXPECT_FALSE(guidance(*run.window).contains(QLatin1String("does not answer"))) << "one query only";
        c.typed != nullptr ? run.enter(QString::fromLatin1(c.typed)) : run.advance(1);
        const QString two = guidance(*run.window);
        EXPECT_TRUE(*c.afterTwo != 0 ? begins(two, c.afterTwo) : two.isEmpty()) << two.toStdString();
        run.button("cmdDone")->click();
        EXPECT_TRUE(guidance(*run.window).isEmpty()) << "cleared when the next step starts";
    }
}

TEST(Advice, EachEndOfRunButtonSaysWhatItDidOrThatItFailed) {
    const struct {
        const char* button;
        int failingSends;
        const char* says;
    } cases[] = {
        {"cmdSav", 0, "Settings stored in the unit at address 5"},
        {"cmdSav", 1, "The settings were NOT stored in the unit at address 5. No unit listens at address 5"},
        {"cmdLock", 0, "Settings stored and locked in the unit at address 5"},
        {"cmdLock", 2, "The settings were NOT locked in the unit at address 5."},
        {"cmdSRQ", 0, "The unit at address 5 now keeps its ESE and SRE"},
        {"cmdNoSRQ", 1, "The unit at address 5 was NOT told to clear"},
    };
    for (const auto& c : cases) {
        FinishedRun run;
        if (c.failingSends > 0) {
            run.bench.sim.failNext("Send", bus::ni::ENOL, c.failingSends);
        }
        run.button(c.button)->click();
        EXPECT_TRUE(guidance(*run.window).startsWith(QLatin1String(c.says)))
            << guidance(*run.window).toStdString();
    }
}

// What a screen reader is told: each NameChanged event, with the object and its name then.
struct NameChange {
    const QObject* object;
    QString name;
};
std::vector<NameChange> nameChanges;

void recordNameChange(QAccessibleEvent* event) {
    if (event->type() == QAccessible::NameChanged && event->accessibleInterface() != nullptr) {
        nameChanges.push_back({event->object(), event->accessibleInterface()->text(QAccessible::Name)});
    }
}

// Accessibility switched on in the platform as a screen reader switches it on, with the events
// recorded instead of going out; off again and the previous handler back afterwards.
class ScreenReader {
public:
    ScreenReader() : m_previous(QAccessible::installUpdateHandler(&recordNameChange)) {
        nameChanges.clear();
        if (m_platform != nullptr) {
            m_platform->setActive(true);
        }
    }
    ~ScreenReader() {
        if (m_platform != nullptr) {
            m_platform->setActive(false);
        }
        QAccessible::installUpdateHandler(m_previous);
    }
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    // The names announced for `object`, in order.
    static std::vector<std::string> announced(const QObject* object) {
        std::vector<std::string> names;
        for (const NameChange& change : nameChanges) {
            if (change.object == object) {
                names.push_back(change.name.toStdString());
            }
        }
        return names;
    }

private:
    QPlatformAccessibility* m_platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    QAccessible::UpdateHandler m_previous;
};

// The operator can select the advice with the mouse (to paste it into a fault report) without the
// status line taking the focus from the list.
TEST(Advice, TheAdviceCanBeSelectedWithTheMouseAndTakesNoFocus) {
    Bench bench;
    ui::frmMain window(bench.session());
    window.show();
    auto* line = control<ui::StatusLine>(window, "statusLine");
    ASSERT_FALSE(line->text().isEmpty());
    auto* list = control<QListWidget>(window, "listUnit");
    list->setFocus();
    QTest::mouseMove(line, QPoint(line->width() / 2, line->height() / 2));
    QTest::mousePress(line, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseMove(line, QPoint(line->width() - 2, line->height() - 2));
    QTest::mouseRelease(line, Qt::LeftButton, {}, QPoint(line->width() - 2, line->height() - 2));
    EXPECT_FALSE(line->selectedText().isEmpty());
    EXPECT_TRUE(line->text().contains(line->selectedText()));
    EXPECT_EQ(QApplication::focusWidget(), list);
}

// A screen reader speaks the status line by its name, and a new advice as a change of that name.
TEST(Advice, EachNewAdviceIsTheStatusLinesNameAndIsAnnounced) {
    FinishedRun run;
    auto* line = control<ui::StatusLine>(*run.window, "statusLine");
    ScreenReader reader;
    ASSERT_TRUE(QAccessible::isActive()) << "accessibility cannot be switched on here";

    run.button("cmdSav")->click();
    const QString saved = guidance(*run.window);
    ASSERT_TRUE(saved.startsWith(QLatin1String("Settings stored"))) << saved.toStdString();
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(line);
    ASSERT_NE(spoken, nullptr);
    EXPECT_EQ(spoken->text(QAccessible::Name).toStdString(), saved.toStdString());
    // Once: the line was empty before and is not cleared again in between.
    EXPECT_EQ(ScreenReader::announced(line), std::vector<std::string>{saved.toStdString()});

    run.button("cmdRedo")->click(); // the next step clears the line, and the reader is told
    EXPECT_TRUE(guidance(*run.window).isEmpty());
    EXPECT_TRUE(spoken->text(QAccessible::Name).isEmpty());
    EXPECT_EQ(ScreenReader::announced(line), (std::vector<std::string>{saved.toStdString(), ""}));
}

TEST(Done, WarnsAgainWhenTheUnitTookAValueAfterTheLastSave) {
    const struct {
        const char* name;
        const char* value; // typed for ESR Enable Bits after Redo from Start; null: no Redo
        bool closesAtOnce;
    } cases[] = {
        {"NothingChanged", nullptr, true},
        {"ValueTaken", "16", false},
        {"ValueRefused", "999", true},
    };
    for (const auto& c : cases) {
        FinishedRun run;
        run.button("cmdSav")->click();
        if (c.value != nullptr) {
            run.button("cmdRedo")->click();
            run.setAddress(QStringLiteral("5"));
            run.advance(1);
            run.enter(QString::fromLatin1(c.value));
        }
        run.button("cmdDone")->click();
        EXPECT_EQ(run.closed.count(), c.closesAtOnce ? 1 : 0) << c.name;
        if (!c.closesAtOnce) {
            EXPECT_EQ(run.box("txtGPIBErr")->text(),
                      QStringLiteral("Exit without saving? \r\nPress Done again to exit"));
            run.button("cmdDone")->click();
            EXPECT_EQ(run.closed.count(), 1) << c.name;
        }
    }
}

} // namespace
} // namespace ktq::test
