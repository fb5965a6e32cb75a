// Stands in for a client of another user: listens on the socket path given
// as its only argument and gives every connection the single-instance
// answer, as a running client would. Prints "listening" once it listens and
// runs until it is killed.

#include "model/windowhelpers.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QLocalServer server;
    server.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server.listen(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "%s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QLocalServer::newConnection, [&server]() {
        while (QLocalSocket* client = server.nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            client->write(ipcAnswerFrame());
            client->flush();
        }
    });
    std::printf("listening\n");
    std::fflush(stdout);
    return app.exec();
}
