#include "processentry.h"

#include "arctools.h"
#include "settings.h"

#include <QDebug>
#include <QFileInfo>
#include <QScopedPointer>

bool haveXArg(int argc, char** argv, char arg)
{
    for (int i = 0; i < argc; ++i) {
        const char* element = argv[i];
        qInfo().noquote() << "argv# " << i << " is " << element;
        if (!element || element[0] != '-' || element[1] == '\0')
            continue;
        if (element[1] == arg || (element[1] == '-' && element[2] == arg))
            return true;
    }
    return false;
}

bool chooseSoftwareOpenGL(bool xSwitch, Settings* sideSettings, bool storedPreference)
{
    const QString key = QString::fromLatin1(kUseSoftwareOpenGLKey);
    if (xSwitch) {
        if (sideSettings) {
            sideSettings->setValue(key, true);
            sideSettings->sync();
        }
        return true;
    }
    if (sideSettings && sideSettings->contains(key))
        return sideSettings->valueReadOnly(key, false).toBool();
    return storedPreference;
}

QStringList findOlderSettingsFiles(const QString& dir)
{
    QStringList hits;
    for (const char* name : { "ostrel.exe.conf", "Ostrel.conf", "ostrel.conf" })
        ArcTools::findFile(dir, QString::fromLatin1(name), hits);
    const QString own = QFileInfo(Settings::fullFileName()).canonicalFilePath();
    QStringList result;
    for (const QString& hit : hits) {
        if (own.isEmpty() || QFileInfo(hit).canonicalFilePath() != own)
            result << hit;
    }
    return result;
}

bool importOlderSettings(const QString& dir)
{
    const QStringList hits = findOlderSettingsFiles(dir);
    if (hits.isEmpty()) {
        qDebug().noquote() << "old config file not found";
        return false;
    }
    qDebug().noquote() << "old config files: " << hits.join(QStringLiteral(", "));
    qDebug().noquote() << "will be used: " << hits.last();
    QScopedPointer<Settings> old(settingByPath(hits.last()));
    settings().copyValuesFrom(*old);
    settings().sync();
    return true;
}
