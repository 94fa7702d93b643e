// The GPIB error report: its texts for each status and error code.
#include "bus/errorreport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace ktq::bus {
namespace {

StatusSnapshot snapshot(int ibsta, int iberr, std::int32_t ibcntl) {
    return {static_cast<std::int16_t>(ibsta), static_cast<std::int16_t>(iberr), 0, ibcntl};
}

std::string report(const QString& message, const StatusSnapshot& status) {
    return gpibErrorReportText(message, status).toStdString();
}

TEST(ErrorReport, BuildsTheWholeLine) {
    EXPECT_EQ(report("ibfind error", snapshot(0x8000, 7, 0)),
              "ibfind error,  ibsta = &H8000 <  ERR  >, iberr =  7 ENEB <No GPIB board>, ibcnt =  0");
    EXPECT_EQ(
        report("Receive Error", snapshot(0xC000, 6, 12)),
        "Receive Error,  ibsta = &HC000 <  ERR TIMO  >, iberr =  6 EABO <Operation aborted>, ibcnt =  12");
    EXPECT_EQ(report("", snapshot(0, 0, 0)),
              ",  ibsta = &H0 <   >, iberr =  0 EDVR <Op System Error>, ibcnt =  0");
}

TEST(ErrorReport, StatusWordInHexWithBitNamesFromTheTop) {
    struct Case {
        int ibsta;
        const char* expected;
    };
    const std::array<Case, 6> cases{{
        {0x0100, "&H100 <  CMPL  >"},
        {0x0001, "&H1 <  DCAS  >"},
        {0x2100, "&H2100 <  END CMPL  >"},
        {0x8020, "&H8020 <  ERR CIC  >"},
        {0x00AB, "&HAB <  LOK CIC TACS DTAS DCAS  >"},
        {0xFFFF, "&HFFFF <  ERR TIMO END SRQI RQS SPOLL EVENT CMPL LOK REM CIC ATN TACS LACS DTAS DCAS  >"},
    }};
    for (const Case& c : cases) {
        EXPECT_NE(
            report("M", snapshot(c.ibsta, 0, 0)).find(std::string(",  ibsta = ") + c.expected + ", iberr"),
            std::string::npos)
            << std::hex << c.ibsta << ": " << report("M", snapshot(c.ibsta, 0, 0));
    }
}

TEST(ErrorReport, ErrorCodeTextsAndCodesWithout) {
    struct Case {
        int iberr;
        const char* expected;
    };
    const std::array<Case, 25> cases{{
        {0, "iberr =  0 EDVR <Op System Error>, ibcnt"},
        {1, "iberr =  1 ECIC <Not CIC>, ibcnt"},
        {2, "iberr =  2 ENOL <No Listener>, ibcnt"},
        {3, "iberr =  3 EADR <Address error>, ibcnt"},
        {4, "iberr =  4 EARG <Invalid argument>, ibcnt"},
        {5, "iberr =  5 ESAC <Not Sys Ctrlr>, ibcnt"},
        {6, "iberr =  6 EABO <Operation aborted>, ibcnt"},
        {7, "iberr =  7 ENEB <No GPIB board>, ibcnt"},
        {10, "iberr =  10 EOIP <Async I/O in prg>, ibcnt"},
        {11, "iberr =  11 ECAP <No capability>, ibcnt"},
        {12, "iberr =  12 EFSO <File sys. error>, ibcnt"},
        {14, "iberr =  14 EBUS <Command error>, ibcnt"},
        {15, "iberr =  15 ESTB <Status byte lost>, ibcnt"},
        {16, "iberr =  16 ESRQ <SRQ stuck on>, ibcnt"},
        {20, "iberr =  20 ETAB <Table Overflow>, ibcnt"},
        {8, "iberr =  8, ibcnt"},
        {9, "iberr =  9, ibcnt"},
        {13, "iberr =  13, ibcnt"},
        {17, "iberr =  17, ibcnt"},
        {18, "iberr =  18, ibcnt"},
        {19, "iberr =  19, ibcnt"},
        {21, "iberr =  21, ibcnt"},
        {32767, "iberr =  32767, ibcnt"},
        {-1, "iberr = -1, ibcnt"},
        {-32768, "iberr = -32768, ibcnt"},
    }};
    for (const Case& c : cases) {
        const std::string line = report("M", snapshot(0x8000, c.iberr, 0));
        EXPECT_NE(line.find(std::string(">, ") + c.expected + " =  0"), std::string::npos) << line;
    }
}

TEST(ErrorReport, CountUsesTheFullLongCountWithSignPosition) {
    EXPECT_TRUE(gpibErrorReportText("M", snapshot(0, 0, -1)).endsWith(", ibcnt = -1"));
    EXPECT_TRUE(gpibErrorReportText("M", snapshot(0, 0, 70000)).endsWith(", ibcnt =  70000"));
    EXPECT_TRUE(gpibErrorReportText("M", snapshot(0, 0, INT32_MIN)).endsWith(", ibcnt = -2147483648"));
}

TEST(ErrorReport, ReplacesTheMessageAndOverwritesTheLastReport) {
    QString errorText;
    QString first = "ibask error";
    GpibErrorReport(first, snapshot(0x8000, 2, 0), errorText);
    EXPECT_EQ(first, errorText);
    EXPECT_TRUE(errorText.startsWith("ibask error,  ibsta = &H8000"));

    QString second = "DevClear Error";
    GpibErrorReport(second, snapshot(0x8100, 6, 3), errorText);
    EXPECT_EQ(
        errorText.toStdString(),
        "DevClear Error,  ibsta = &H8100 <  ERR CMPL  >, iberr =  6 EABO <Operation aborted>, ibcnt =  3");
    EXPECT_EQ(second, errorText);
}

} // namespace
} // namespace ktq::bus
