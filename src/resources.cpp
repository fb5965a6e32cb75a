#include "resources.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must stand outside any namespace; each name is the base
// name of one .qrc file.
static void registerResourceTrees()
{
    Q_INIT_RESOURCE(linux);
    Q_INIT_RESOURCE(mainwindow);
    Q_INIT_RESOURCE(standart_skin);
    Q_INIT_RESOURCE(list);
    Q_INIT_RESOURCE(light_list);
    Q_INIT_RESOURCE(fonts);
}

void initResources()
{
    static std::once_flag once;
    std::call_once(once, registerResourceTrees);
}
