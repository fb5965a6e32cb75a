#include "qml/qmlregistration/qmlregistration.h"

#include "downloader.h"
#include "model/constants.h"
#include "model/helpitem.h"
#include "model/helpsection.h"
#include "model/location.h"
#include "model/locationmodel.h"
#include "model/model.h"
#include "model/news.h"
#include "model/port.h"
#include "model/protocol.h"
#include "model/region.h"
#include "model/settingoptionmodel.h"
#include "qml/cppcomponents/qmlline.h"
#include "qml/cppcomponents/qmllinewitharrow.h"
#include "settingsoption.h"

#include <QCoreApplication>
#include <QQmlEngine>

namespace {

const char* const kCustomComponentsUri = "CustomComponents";
const char* const kDomainUri = "Ostrel.Domain";

template <class T>
void registerDomainType(const char* qmlName)
{
    qmlRegisterUncreatableType<T>(kDomainUri, 1, 0, qmlName,
                                  QStringLiteral("Type %1 cannot be created").arg(QLatin1String(qmlName)));
}

} // namespace

void registrator()
{
    qmlRegisterType<QmlLine>(kCustomComponentsUri, 1, 0, "Line");
    qmlRegisterType<QmlLineWithArrow>(kCustomComponentsUri, 1, 0, "LineWithArrow");

    registerDomainType<Constants>("Constants");
    registerDomainType<Model>("Model");
    registerDomainType<Protocol>("Protocol");
    registerDomainType<ProtocolModel>("ProtocolModel");
    registerDomainType<Port>("Port");
    registerDomainType<PortModel>("PortModel");
    registerDomainType<Location>("Location");
    registerDomainType<LocationModel>("LocationModel");
    registerDomainType<LocationFavoriteModel>("LocationFavoriteModel");
    registerDomainType<News>("News");
    registerDomainType<NewsModel>("NewsModel");
    registerDomainType<HelpSection>("HelpSection");
    registerDomainType<HelpSectionModel>("HelpSectionModel");
    registerDomainType<HelpItem>("HelpItem");
    registerDomainType<HelpItemModel>("HelpItemModel");
    registerDomainType<Region>("Region");
    registerDomainType<RegionModel>("RegionModel");
    registerDomainType<SettingOption>("SettingOption");
    registerDomainType<SettingOptionModel>("SettingOptionModel");
    registerDomainType<Downloader>("Downloader");
}

// The core library is static: the build asks the linker to keep this object
// file in every program (by this symbol), so the pre-routine below is
// installed without anyone calling into the file.
extern "C" {
extern const int ostrel_qml_registration_anchor;
const int ostrel_qml_registration_anchor = 1;
}

// Before main(): the compiled QML units become reachable under "qrc:/qml/"
// and the type registration waits for the application object.
static void installQmlRegistration()
{
    Q_INIT_RESOURCE(qml);
    qAddPreRoutine(registrator);
}
Q_CONSTRUCTOR_FUNCTION(installQmlRegistration)
