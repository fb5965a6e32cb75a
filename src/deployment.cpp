#include "deployment.h"

#include <QFile>
#include <QSettings>

#include <mutex>

// Q_INIT_RESOURCE must stand outside any namespace.
static void initDeploymentResource()
{
    Q_INIT_RESOURCE(deployment);
}

static void ensureResource()
{
    static std::once_flag once;
    std::call_once(once, initDeploymentResource);
}

QString Deployment::value(const QString& key)
{
    ensureResource();
    const QSettings ini(QStringLiteral(":/deployment/deployment.ini"), QSettings::IniFormat);
    return ini.value(key).toString().trimmed();
}

QByteArray Deployment::file(const QString& name)
{
    ensureResource();
    QFile f(QStringLiteral(":/deployment/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}
