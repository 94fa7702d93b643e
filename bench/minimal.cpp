// One window holding one list of 28 rows, the least a Qt Widgets program can show in place of
// the model list: scripts/bench measures the program against it.
#include <QApplication>
#include <QListWidget>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QListWidget list;
    for (int row = 1; row <= 28; ++row) {
        list.addItem(QString::number(7100 + row));
    }
    // scripts/bench also starts it at the program's window size, "<width>x<height>": how much of
    // the difference is only the larger window's painting and the X server's work for it.
    if (const QStringList size = qEnvironmentVariable("KTQ_BENCH_SIZE").split(u'x'); size.size() == 2) {
        list.resize(size[0].toInt(), size[1].toInt());
    }
    list.show();
    // Same hook as the program: quit from the first pass of the event loop after show().
    if (qEnvironmentVariableIntValue("KTQ_QUIT_WHEN_IDLE") == 1) {
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    }
    return QApplication::exec();
}
