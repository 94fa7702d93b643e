// Writes or checks the table of docs/troubleshooting.md from the program's own advice rules.
#include "bus/errorreport.h"
#include "run/advice.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <cstdlib>
#include <iostream>
#include <vector>

namespace {

using ktq::run::BusStep;

const QString beginMark = QStringLiteral("<!-- table generated from the advice rules: do not edit -->\n");
const QString endMark = QStringLiteral("<!-- end of generated table -->\n");

struct StepReports {
    ktq::run::BusStep step;
    const char* where;
    const char* reports; // the messages that open the bus error report at that step
};

// The messages are the callers' own (frmmain.cpp, frmconfig.cpp); the where says what the
// operator did last.
const std::vector<StepReports> stepReports{
    {ktq::run::BusStep::FindBoard, "Configure", "ibfind error"},
    {ktq::run::BusStep::SetUpBoard, "Configure", "ibask error, SendIFC error, ibsre Error, ibtmo Error"},
    {ktq::run::BusStep::Search, "the search", "FindLstn error"},
    {ktq::run::BusStep::ClearUnit, "Set Address", "DevClear Error"},
    {ktq::run::BusStep::Query, "a function's query", "Receive Error"},
    {ktq::run::BusStep::Store, "the end-of-run buttons",
     "Send SAV Error, Send ESE Error, or the status line alone"},
};

QString escaped(QString text) {
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u'*', QStringLiteral("\\*"));
    text.replace(u'|', QStringLiteral("\\|"));
    text.replace(u'<', QStringLiteral("&lt;"));
    return text;
}

// What the report shows of the error code and count, as the operator reads it there.
QString codeAndCount(const ktq::run::AdviceRuleView& rule) {
    QStringList parts;
    if (rule.iberr >= 0) {
        ktq::bus::StatusSnapshot status{};
        status.ibsta = static_cast<std::int16_t>(0x8000);
        status.iberr = static_cast<std::int16_t>(rule.iberr);
        const QString report = ktq::bus::gpibErrorReportText(QString(), status);
        static const QRegularExpression code(QStringLiteral("iberr = +(\\d+ \\w+)"));
        parts << QStringLiteral("iberr = ") + code.match(report).captured(1);
    }
    if (rule.count >= 0) {
        parts << QStringLiteral("ibcnt = ") + QString::number(rule.count);
    }
    return parts.isEmpty() ? QStringLiteral("any") : parts.join(QStringLiteral(", "));
}

QString table() {
    // The table shows the usual places, not the IB_CONFIG of whoever generates it.
    qunsetenv("IB_CONFIG");
    QString out = beginMark;
    out += QStringLiteral("| Where | Report | Error, count | Driver | Cause | What to do |\n");
    out += QStringLiteral("|---|---|---|---|---|---|\n");
    for (const ktq::run::AdviceRuleView& rule : ktq::run::adviceRuleViews()) {
        QStringList where;
        QStringList reports;
        unsigned described = 0;
        for (const StepReports& step : stepReports) {
            if ((rule.steps & static_cast<unsigned>(step.step)) != 0) {
                described |= static_cast<unsigned>(step.step);
                if (!where.contains(QLatin1String(step.where))) {
                    where << QLatin1String(step.where);
                }
                reports << QLatin1String(step.reports);
            }
        }
        if (described != rule.steps) {
            // A step added to ktq::run::BusStep needs its place and reports above, or its rows would say
            // nothing.
            std::cerr << "troubleshooting: a rule names a step stepReports does not describe\n";
            std::exit(2);
        }
        QString text = escaped(QString::fromUtf8(rule.text.data(), static_cast<qsizetype>(rule.text.size())));
        text.replace(QStringLiteral("{address}"), QStringLiteral("*address*"));
        text.replace(QStringLiteral("{model}"), QStringLiteral("*model*"));
        text.replace(QStringLiteral("{error}"), QStringLiteral("*the error code*"));
        text.replace(QStringLiteral("{libraries}"), QStringLiteral("*the libraries looked for*"));
        text.replace(QStringLiteral("{configfile}"), escaped(ktq::run::linuxGpibConfigurationFile()));
        text.replace(QStringLiteral("{noadapter}"), escaped(ktq::run::noAdapterAdvice()));
        // A rule says the cause, then after the first colon what to do.
        const qsizetype colon = text.indexOf(QStringLiteral(": "));
        const QString cause = colon < 0 ? QString() : text.left(colon);
        const QString action = colon < 0 ? text : text.mid(colon + 2);
        const QString family =
            rule.family.empty() ? QStringLiteral("any")
            : rule.family == "none"
                ? QStringLiteral("no library loaded")
                : QString::fromUtf8(rule.family.data(), static_cast<qsizetype>(rule.family.size()));
        out += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |\n")
                   .arg(where.join(QStringLiteral(", ")), reports.join(QStringLiteral(", ")),
                        codeAndCount(rule), family, cause, action);
    }
    out += endMark;
    return out;
}

} // namespace

int main(int argc, char* argv[]) {
    const QStringList args = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i) {
            list << QString::fromLocal8Bit(argv[i]);
        }
        return list;
    }();
    if (args.size() != 2 || (args[0] != QLatin1String("--check") && args[0] != QLatin1String("--write"))) {
        std::cerr << "usage: troubleshooting_table --check|--write docs/troubleshooting.md\n";
        return 2;
    }
    QFile file(args[1]);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::cerr << "troubleshooting: cannot read " << args[1].toStdString() << '\n';
        return 2;
    }
    const QString page = QString::fromUtf8(file.readAll());
    file.close();
    const qsizetype begin = page.indexOf(beginMark);
    const qsizetype end = page.indexOf(endMark);
    if (begin < 0 || end < begin) {
        std::cerr << "troubleshooting: " << args[1].toStdString() << " lacks the table's markers\n";
        return 2;
    }
    const QString current = page.mid(begin, end + endMark.size() - begin);
    const QString wanted = table();
    if (args[0] == QLatin1String("--check")) {
        if (current == wanted) {
            return 0;
        }
        const QStringList have = current.split(u'\n');
        for (const QString& row : wanted.split(u'\n')) {
            if (!have.contains(row)) {
                std::cerr << "troubleshooting: no row " << row.toStdString() << '\n';
            }
        }
        std::cerr << "troubleshooting: the table differs from the advice rules; rebuild it with "
                     "cmake --build build --target troubleshooting\n";
        return 1;
    }
    QString updated = page;
    updated.replace(begin, current.size(), wanted);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        std::cerr << "troubleshooting: cannot write " << args[1].toStdString() << '\n';
        return 2;
    }
    file.write(updated.toUtf8());
    return 0;
}
