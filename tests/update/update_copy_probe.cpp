// Runs ArcTools::copyDirToDestination(<from>, <to>, false) in a process of its
// own, so that a test running as root can run it as an unprivileged user.
// Exit code 10: the copy succeeded; 11: it failed; 2: wrong arguments.
#include "arctools.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    return ArcTools::copyDirToDestination(args.at(1), args.at(2), false) ? 10 : 11;
}
