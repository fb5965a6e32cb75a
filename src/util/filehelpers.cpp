#include "util/filehelpers.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

void qbytearray_to_file(const QString& file_name, const QByteArray& ba)
{
    const QDir dir = QFileInfo(file_name).absoluteDir();
    if (!dir.exists() && !dir.mkpath(QStringLiteral("."))) {
        qWarning().noquote() << Q_FUNC_INFO << " !d.mkpath";
        return;
    }
    QFile f(file_name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning().noquote() << Q_FUNC_INFO << " !f.open";
        return;
    }
    if (!ba.isEmpty())
        f.write(ba);
    f.close();
}

QByteArray qbytearray_from_file(const QString& file_name, bool must_exist)
{
    QFile f(file_name);
    if (!f.open(QIODevice::ReadOnly)) {
        if (must_exist)
            qWarning().noquote() << Q_FUNC_INFO << " !f.open";
        return QByteArray();
    }
    return f.readAll();
}

void qstring_to_file(const QString& file_name, const QString& s)
{
    qbytearray_to_file(file_name, s.toUtf8());
}

QString qstring_from_file(const QString& file_name, bool must_exist)
{
    return QString::fromUtf8(qbytearray_from_file(file_name, must_exist));
}
