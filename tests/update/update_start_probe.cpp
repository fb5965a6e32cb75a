// Runs the update start-up step in a process of its own, so that a test
// running as root can run it as an unprivileged user.
// Arguments: <application directory> <lock directory> <"--update=..." argument>.
// Prints every notice on a line of its own. Exit code 20: the step closed the
// application; 21: it let the start go on; 2: wrong arguments.
#include "checknewversion.h"
#include "singlestartman.h"
#include "updatenotice.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    QTextStream out(stdout);
    UpdateNotice::setPresenter([&out](const QString& text) { out << text << '\n' << Qt::flush; });
    SingleStartMan::setLockDirectoryForTests(args.at(2));
    const UpdateManager::ExecuteResult result = UpdateManager::executeOnStart({ QStringLiteral("ostrel"), args.at(3) },
                                                                              args.at(1));
    return result == UpdateManager::erClose ? 20 : 21;
}
