// Replies the menu engine must survive, at each place where it reads one: the current setting of
// a function and of the address function, the event status after a setting, and the read-back.
#include "faultrun.h"

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

enum class Site { Show, ShowAddress, Status, Readback, AddressReadback };

const char* siteName(Site site) {
    switch (site) {
    case Site::Show:
        return "Show";
    case Site::ShowAddress:
        return "ShowAddress";
    case Site::Status:
        return "Status";
    case Site::Readback:
        return "Readback";
    case Site::AddressReadback:
        return "AddressReadback";
    }
    return "";
}

struct ReplyCase {
    const char* name;
    Site site;
    std::string bytes; // empty: the unit ends the transfer without a byte
    QString shown;     // the setting column of the function's line
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << siteName(c.site) << ' ' << c.name;
}

const QString blanks17 = QString(17, u' ');
const std::string nul("1\0"
                      "23\n",
                      5);
const std::string letters18 = "ABCDEFGHIJKLMNOPQR";
const std::string letters30 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";

std::vector<ReplyCase> replyCases() {
    const QString nulShown = QStringLiteral("1") + QChar(0) + QString(15, u' ');
    const QString high = QString::fromLatin1("\xe9\xff\x80");
    std::vector<ReplyCase> cases;
    for (Site site : {Site::Show, Site::ShowAddress, Site::Readback}) {
        cases.push_back({"Empty", site, "", blanks17});
        cases.push_back({"EighteenNoLineFeed", site, letters18, QStringLiteral("ABCDEFGHIJKLMNOPQ")});
        cases.push_back({"Longer", site, letters30, QStringLiteral("ABCDEFGHIJKLMNOPQ")});
        cases.push_back({"Nul", site, nul, nulShown});
        cases.push_back({"HighBytes", site, "\xe9\xff\x80\n", high});
        cases.push_back({"BareLineFeed", site, "\n", QString()});
    }
    // The re-query after a setting reads the address as a number of at most two digits.
    cases.push_back({"Empty", Site::AddressReadback, "", blanks17});
    cases.push_back({"EighteenNoLineFeed", Site::AddressReadback, letters18, QStringLiteral("0")});
    cases.push_back({"Longer", Site::AddressReadback, letters30, QStringLiteral("0")});
    cases.push_back({"Nul", Site::AddressReadback, nul, QStringLiteral("1")});
    cases.push_back({"HighBytes", Site::AddressReadback, "\xe9\xff\x80\n", QStringLiteral("0")});
    cases.push_back({"BareLineFeed", Site::AddressReadback, "\n", QStringLiteral("0")});
    cases.push_back({"ThirtyOnePlusFive", Site::AddressReadback, "37\n", QStringLiteral("5/31")});
    cases.push_back({"ThreeDigits", Site::AddressReadback, "123\n", QStringLiteral("12")});
    cases.push_back({"ThirtyOnePlusFive", Site::ShowAddress, "37\n", QStringLiteral("5/31")});

    // "*ESR?" answered: 7 is the read-back of the value that was set.
    cases.push_back({"Empty", Site::Status, "", QStringLiteral("No response")});
    cases.push_back({"EighteenNoLineFeed", Site::Status, letters18, QStringLiteral("7")});
    // The rest of a long reply is still waiting at the bench and answers the re-query.
    cases.push_back({"Longer", Site::Status, letters30, QStringLiteral("STUVWXYZ0123     ")});
    cases.push_back({"Nul", Site::Status, nul, QStringLiteral("23")});
    cases.push_back({"HighBytes", Site::Status, "\xe9\xff\x80\n", QStringLiteral("7")});
    cases.push_back({"BareLineFeed", Site::Status, "\n", QStringLiteral("7")});
    cases.push_back({"Text", Site::Status, "abc\n", QStringLiteral("7")});
    cases.push_back({"Negative", Site::Status, "-1\n", QStringLiteral("Error - retry")});
    cases.push_back({"NegativeBeyond16Bits", Site::Status, "-32769\n", QStringLiteral("Error - retry")});
    cases.push_back({"Beyond16BitsNoErrorBits", Site::Status, "65536\n", QStringLiteral("7")});
    cases.push_back({"Beyond16BitsErrorBits", Site::Status, "65540\n", QStringLiteral("Error - retry")});
    cases.push_back({"EighteenDigits", Site::Status, "999999999999999999", QStringLiteral("7")});
    cases.push_back({"Fraction", Site::Status, "3.5\n", QStringLiteral("Error - retry")});
    cases.push_back({"DeviceDependentOnly", Site::Status, "8\n", QStringLiteral("7")});
    return cases;
}

class Replies : public testing::TestWithParam<ReplyCase> {};

TEST_P(Replies, AreShownAsTheEngineReadsThemAndTheMenuGoesOn) {
    const ReplyCase& c = GetParam();
    FaultRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    const std::size_t start = run.mark();
    // Queued replies answer the next reads from the unit in order; an empty one is answered by
    // the injector at the nth read.
    auto reply = [&run](const std::string& bytes, int nthRead) {
        if (bytes.empty()) {
            run.injector.answerEmpty(nthRead);
        } else {
            run.bench.sim.queueReply(5, bytes);
        }
    };
    int line = 0;
    switch (c.site) {
    case Site::Show:
        run.setAddress(QStringLiteral("5"));
        reply(c.bytes, 1);
        run.advance(1);
        line = 1;
        break;
    case Site::ShowAddress:
        reply(c.bytes, 1);
        run.setAddress(QStringLiteral("5"));
        break;
    case Site::Status:
        run.setAddress(QStringLiteral("5"));
        run.advance(1);
        reply(c.bytes, 1);
        run.enter(QStringLiteral("7"));
        line = 1;
        break;
    case Site::Readback:
    case Site::AddressReadback:
        run.setAddress(QStringLiteral("5"));
        if (c.site == Site::Readback) {
            run.advance(1);
            line = 1;
        }
        run.bench.sim.queueReply(5, "0\n");
        reply(c.bytes, 2);
        run.enter(QStringLiteral("5"));
        break;
    }
    ASSERT_EQ(run.lines().size(), line + 1);
    EXPECT_EQ(setting(run.lines()[line]), c.shown);
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden()) << "a read that ended well is no bus error";

    // The menu goes on to the end and the settings can be saved.
    run.advance(3 - line);
    ASSERT_TRUE(run.button("cmdSav")->isEnabled());
    run.button("cmdSav")->click();
    EXPECT_EQ(run.bench.sim.unitAt(5)->saveCount(), 1);
    for (int address : deviceAddresses(run.bench, start)) {
        EXPECT_EQ(address, 5);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, Replies, testing::ValuesIn(replyCases()),
                         [](const testing::TestParamInfo<ReplyCase>& info) {
                             return std::string(siteName(info.param.site)) + "_" + info.param.name;
                         });

} // namespace
} // namespace ktq::test
