// Unpacks a zip archive with ArcTools::extractArchive(<zip bytes>, <dir>) in a
// process of its own, so that a test can measure its memory, limit its open
// files and place it in a directory of its own. Prints the peak resident size
// ("VmHWM: <kB>") and the reason of a failure. Exit code 10: unpacked; 11:
// refused; 12: the archive file not readable; 2: wrong arguments.
#include "arctools.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    QFile zip(args.at(1));
    if (!zip.open(QIODevice::ReadOnly))
        return 12;
    const QByteArray data = zip.readAll();
    zip.close();
    QString error;
    const bool unpacked = ArcTools::extractArchive(data, args.at(2), &error);
    QTextStream out(stdout);
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                out << line.simplified() << '\n';
        }
    }
    if (!unpacked)
        out << "error: " << error << '\n';
    return unpacked ? 10 : 11;
}
