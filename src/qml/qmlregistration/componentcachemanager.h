#pragma once

#include <QObject>

class QQmlEngine;

// Lets QML ask its engine to drop compiled components nothing refers to any
// more (after a page or a skin was replaced). Published as the context
// property "componentCache".
class ComponentCacheManager : public QObject
{
    Q_OBJECT
public:
    // The engine is not owned and must outlive this object.
    explicit ComponentCacheManager(QQmlEngine* engine);

    Q_INVOKABLE void trim();

private:
    QQmlEngine* engine;
};
