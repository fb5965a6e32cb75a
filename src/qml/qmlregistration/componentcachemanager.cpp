#include "qml/qmlregistration/componentcachemanager.h"

#include <QQmlEngine>

ComponentCacheManager::ComponentCacheManager(QQmlEngine* engine)
    : QObject(nullptr)
    , engine(engine)
{
}

void ComponentCacheManager::trim()
{
    if (engine)
        engine->trimComponentCache();
}
