// Parses a generated 5,000-entry server list with the client's JSON reader
// and with Qt's QJsonDocument, and prints both times and their ratio.
#include "qt-json/json.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace {

QString serverList(int count)
{
    QString json = QStringLiteral("{\"servers\":[");
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            json += QLatin1Char(',');
        json += QStringLiteral("{\"name\":\"Location %1\",\"country_code\":\"c%2\",\"region\":\"Region %3\","
                               "\"ip\":\"10.%4.%5.%6\",\"ike_ip\":\"10.%4.%5.%7\",\"load\":%8,\"premium\":%9,"
                               "\"ports\":[1194,443,7770,8080],\"note\":\"line \\\"%1\\\" \\u00e9\"}")
                    .arg(i)
                    .arg(i % 250)
                    .arg(i % 12)
                    .arg((i / 65536) % 256)
                    .arg((i / 256) % 256)
                    .arg(i % 256)
                    .arg((i + 1) % 256)
                    .arg(double(i % 100) + 0.5)
                    .arg(i % 3 == 0 ? QStringLiteral("true") : QStringLiteral("false"));
    }
    json += QStringLiteral("]}");
    return json;
}

template <typename F>
double medianMs(int rounds, F&& work)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int entries = 5000;
    const int rounds = 15;
    const QString text = serverList(entries);
    const QByteArray utf8 = text.toUtf8();

    int ownCount = 0;
    const double own = medianMs(rounds, [&] {
        bool ok = false;
        ownCount = QtJson::parse(text, ok).toMap().value(QStringLiteral("servers")).toList().size();
    });
    int qtCount = 0;
    const double qt = medianMs(rounds, [&] {
        qtCount = QJsonDocument::fromJson(utf8).toVariant().toMap().value(QStringLiteral("servers")).toList().size();
    });

    QTextStream out(stdout);
    out << "server list: " << entries << " entries, " << utf8.size() << " bytes, median of " << rounds << " runs\n";
    out << "QtJson::parse:              " << QString::number(own, 'f', 2) << " ms (" << ownCount << " entries)\n";
    out << "QJsonDocument + toVariant:  " << QString::number(qt, 'f', 2) << " ms (" << qtCount << " entries)\n";
    out << "ratio (QtJson / Qt):        " << QString::number(own / qt, 'f', 2) << "\n";
    return ownCount == entries && qtCount == entries ? 0 : 1;
}
