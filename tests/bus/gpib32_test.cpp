// The GPIB wrappers: what reaches the driver and what the status snapshots hold.
#include "bus/gpib32.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace ktq::bus {
namespace {

/// Records what the wrappers hand to the driver and answers with scripted status and data.
class FakeDriver final : public GpibDriver {
public:
    std::string_view family() const override { return "scripted"; }
    // Scripted answers.
    int sta = 0x0100;
    int err = 0;
    int cnt = 0;
    long cntl = 0;
    int findResult = 0;
    int askValue = 0;
    QByteArray reply;
    std::vector<std::uint16_t> listeners;

    // What reached the driver.
    std::string lastCall;
    std::vector<int> ints;
    std::uint16_t address = 0;
    QByteArray bytes;
    long count = -1;
    bool bufferValid = false;
    std::vector<std::uint16_t> padList;

    int ibfind(const char* name) override {
        record("ibfind", {});
        bytes = QByteArray(name);
        return findResult;
    }
    int ibask(int ud, int option, int* value) override {
        record("ibask", {ud, option});
        *value = askValue;
        return sta;
    }
    int ibsre(int ud, int v) override { return record("ibsre", {ud, v}), sta; }
    int ibtmo(int ud, int v) override { return record("ibtmo", {ud, v}), sta; }
    int ibonl(int ud, int v) override { return record("ibonl", {ud, v}), sta; }
    void SendIFC(int board) override { record("SendIFC", {board}); }
    void DevClear(int board, std::uint16_t a) override {
        record("DevClear", {board});
        address = a;
    }
    void FindLstn(int board, const std::uint16_t* pads, std::uint16_t* results, int limit) override {
        record("FindLstn", {board, limit});
        for (; *pads != 0xFFFF; ++pads) {
            padList.push_back(*pads);
        }
        const auto n = std::min<std::size_t>(std::max(limit, 0), listeners.size());
        std::copy_n(listeners.begin(), n, results);
        cnt = static_cast<int>(n);
        cntl = static_cast<long>(n);
    }
    void Send(int board, std::uint16_t a, const void* buffer, long n, int eotMode) override {
        record("Send", {board, eotMode});
        take(a, buffer, n);
    }
    void Receive(int board, std::uint16_t a, void* buffer, long n, int termination) override {
        record("Receive", {board, termination});
        take(a, buffer, n);
        const auto received = std::min<long>(n, reply.size());
        std::memcpy(buffer, reply.constData(), static_cast<std::size_t>(received));
        cnt = static_cast<int>(received);
        cntl = received;
    }
    void SendCmds(int board, const void* buffer, long n) override {
        record("SendCmds", {board});
        take(0, buffer, n);
    }
    int ThreadIbsta() override { return sta; }
    int ThreadIberr() override { return err; }
    int ThreadIbcnt() override { return cnt; }
    long ThreadIbcntl() override { return cntl; }

private:
    void record(const char* call, std::vector<int> args) {
        lastCall = call;
        ints = std::move(args);
    }
    void take(std::uint16_t a, const void* buffer, long n) {
        address = a;
        count = n;
        bufferValid = buffer != nullptr;
        bytes = buffer ? QByteArray(static_cast<const char*>(buffer), n) : QByteArray();
    }
};

TEST(Gpib32, ReceiveFillsFromTheStartAndKeepsTheCallersLength) {
    struct Case {
        int length;
        std::int16_t termination;
        QByteArray reply;
        QString expected;
    };
    const QString blanks13(13, QLatin1Char(' '));
    const std::array<Case, 4> cases{{
        {18, 0, "+1.5\n", "+1.5\n" + blanks13},
        // A zero byte ends the transfer but is received like any other byte.
        {18, 0, QByteArray("7\0\n\0\0", 5), QString("7") + QChar(0) + "\n" + QChar(0) + QChar(0) + blanks13},
        {4, 0x100, "ABCDEFGHIJ", "ABCD"},
        {0, 10, "ABC", ""},
    }};
    for (const Case& c : cases) {
        FakeDriver driver;
        Gpib32 bus(driver);
        driver.reply = c.reply;
        QString response(c.length, QLatin1Char(' '));

        bus.GpibReceive(0, 5, response, c.termination);

        EXPECT_EQ(response, c.expected) << c.reply.toStdString();
        EXPECT_EQ(driver.count, c.length);
        EXPECT_EQ(driver.ints, (std::vector<int>{0, c.termination}));
        const auto received = std::min<int>(c.length, static_cast<int>(c.reply.size()));
        EXPECT_EQ(bus.ibcntl(), received);
        EXPECT_EQ(bus.ibcnt(), received);
    }
}

TEST(Gpib32, TextGoesOutOneBytePerCharacterAndStaysUnchanged) {
    struct Case {
        QString text;
        QByteArray bytes;
    };
    const std::array<Case, 4> cases{{
        {QString(), QByteArray()},
        {"*ESR?", "*ESR?"},
        {QString::fromUtf8("\xC3\xA9\xC3\xBF"), "\xE9\xFF"}, // é ÿ fit in 8 bits
        {QString::fromUtf8("A\xCE\xA9"
                           "B"),
         "A?B"}, // Ω does not
    }};
    for (const Case& c : cases) {
        FakeDriver driver;
        Gpib32 bus(driver);
        QString text = c.text;
        bus.GpibSend(0, 7, text, 1);
        EXPECT_EQ(driver.bytes, c.bytes) << c.text.toStdString();
        EXPECT_EQ(driver.count, c.text.size());
        EXPECT_TRUE(driver.bufferValid);
        EXPECT_EQ(driver.ints, (std::vector<int>{0, 1}));
        EXPECT_EQ(text, c.text);

        bus.GpibSendCmds(0, text);
        EXPECT_EQ(driver.lastCall, "SendCmds");
        EXPECT_EQ(driver.bytes, c.bytes);
        EXPECT_EQ(driver.count, c.text.size());
        EXPECT_EQ(text, c.text);
    }
}

// One bus, one call after another: each snapshot shows its own call only, cut to the widths.
TEST(Gpib32, SnapshotDescribesTheLastCallAtDriverWidths) {
    struct Case {
        int sta, err, cnt;
        long cntl;
        StatusSnapshot expected;
    };
    const std::array<Case, 4> cases{{
        {0x8000, 2, 7, 7, {static_cast<std::int16_t>(0x8000), 2, 7, 7}},
        {0x0100, 0, 0, 0, {0x0100, 0, 0, 0}},
        {0x18100, 0x10006, 0x12345, 0x12345, {static_cast<std::int16_t>(0x8100), 6, 0x2345, 0x12345}},
        {0x2100, 0, 0xFFFF, static_cast<long>(0x1'8000'0000LL), {0x2100, 0, -1, INT32_MIN}}, // low 32 bits
    }};
    FakeDriver driver;
    Gpib32 bus(driver);
    for (const Case& c : cases) {
        driver.sta = c.sta;
        driver.err = c.err;
        driver.cnt = c.cnt;
        driver.cntl = c.cntl;
        bus.GpibSendIFC(0);
        EXPECT_EQ(bus.ibsta(), c.expected.ibsta);
        EXPECT_EQ(bus.iberr(), c.expected.iberr);
        EXPECT_EQ(bus.ibcnt(), c.expected.ibcnt);
        EXPECT_EQ(bus.ibcntl(), c.expected.ibcntl);
        EXPECT_EQ(bus.status().failed(), (c.sta & 0x8000) != 0);
    }
}

TEST(Gpib32, SixteenBitArgumentsAreSignExtendedAndAddressesKeepTheirBits) {
    FakeDriver driver;
    Gpib32 bus(driver);

    bus.GpibSre(-1, -2);
    EXPECT_EQ(driver.ints, (std::vector<int>{-1, -2}));

    bus.GpibDevClear(-3, 0x6105);
    EXPECT_EQ(driver.ints, (std::vector<int>{-3}));
    EXPECT_EQ(driver.address, 0x6105);

    QString text = "X";
    bus.GpibSend(0, static_cast<std::int16_t>(0xFF1E), text, -1);
    EXPECT_EQ(driver.address, 0xFF1E);
    EXPECT_EQ(driver.ints, (std::vector<int>{0, -1}));
}

TEST(Gpib32, FindWritesTheDescriptorEvenWhenItFails) {
    FakeDriver driver;
    Gpib32 bus(driver);
    driver.findResult = -1;
    driver.sta = 0x8000;
    driver.err = 7;
    std::int16_t descriptor = 42;

    EXPECT_TRUE(bus.GpibFind("GPIB0", &descriptor).failed());
    EXPECT_EQ(descriptor, -1);
    EXPECT_EQ(driver.bytes, "GPIB0");
    EXPECT_TRUE(bus.status().failed());

    driver.findResult = 0x10020; // the driver's int is cut to 16 bits
    bus.GpibFind("GPIB0", &descriptor);
    EXPECT_EQ(descriptor, 0x20);
}

TEST(Gpib32, AskKeepsTheLowSixteenBitsOfAWideValue) {
    struct Case {
        int driverValue;
        std::int16_t expected;
    };
    for (const Case c : {Case{5, 5}, Case{-1, -1}, Case{0x12345, 0x2345}, Case{40000, -25536}}) {
        FakeDriver driver;
        Gpib32 bus(driver);
        driver.askValue = c.driverValue;
        std::int16_t value = 0;
        bus.GpibAsk(3, 1, value);
        EXPECT_EQ(value, c.expected) << c.driverValue;
        EXPECT_EQ(driver.ints, (std::vector<int>{3, 1}));
    }
}

TEST(Gpib32, FindLstnNeverLetsTheDriverReadOrWritePastTheLists) {
    struct Case {
        std::int16_t limit;
        std::size_t resultSize;
        int limitPassed;
        std::vector<std::int16_t> addresses;
    };
    const std::vector<std::int16_t> terminated{4, 9, 17, -1};
    const std::vector<std::int16_t> unterminated{4, 9, 17};
    for (const Case& c :
         {Case{31, 3, 3, terminated}, Case{2, 5, 2, terminated}, Case{31, 31, 31, terminated},
          Case{0, 4, 0, terminated}, Case{5, 0, 0, terminated}, Case{3, 3, 3, unterminated}}) {
        FakeDriver driver;
        Gpib32 bus(driver);
        driver.listeners = {4, 9, 17, 22, 30};
        // Guard entries on both sides catch a write beyond the caller's list.
        std::vector<std::int16_t> storage(c.resultSize + 2, 99);
        const std::span<std::int16_t> results(storage.data() + 1, c.resultSize);

        bus.GpibFindLstn(0, c.addresses, results, c.limit);

        EXPECT_EQ(driver.ints.at(1), c.limitPassed);
        EXPECT_EQ(driver.padList, (std::vector<std::uint16_t>{4, 9, 17}));
        EXPECT_EQ(storage.front(), 99);
        EXPECT_EQ(storage.back(), 99);
        EXPECT_EQ(bus.ibcnt(), std::min<int>(c.limitPassed, 5));
        for (int i = 0; i < bus.ibcnt(); ++i) {
            EXPECT_EQ(results[static_cast<std::size_t>(i)], driver.listeners[static_cast<std::size_t>(i)]);
        }
    }
}

} // namespace
} // namespace ktq::bus
