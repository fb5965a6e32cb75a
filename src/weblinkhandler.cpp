#include "weblinkhandler.h"

#include "log.h"
#include "systemhelper.h"

#include <QDebug>
#include <QDesktopServices>
#include <QList>

namespace {

const char* const kWebSchemes[] = { "http", "https" };

// The live handlers, the one in use last.
QList<WebLinkHandler*>& handlers()
{
    static QList<WebLinkHandler*> list;
    return list;
}

void route(WebLinkHandler* handler)
{
    for (const char* scheme : kWebSchemes) {
        if (handler)
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), handler, "open");
        else
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
}

} // namespace

WebLinkHandler::WebLinkHandler(QObject* parent)
    : QObject(parent)
{
    handlers().append(this);
    route(this);
}

WebLinkHandler::~WebLinkHandler()
{
    const bool inUse = handlers().last() == this;
    handlers().removeOne(this);
    if (inUse)
        route(handlers().isEmpty() ? nullptr : handlers().last());
}

bool WebLinkHandler::installed()
{
    return !handlers().isEmpty();
}

void WebLinkHandler::openLater(const QString& address)
{
    m_waiting.append(address);
    if (m_scheduled || m_opening)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(
        this, [this] { openWaiting(); }, Qt::QueuedConnection);
}

void WebLinkHandler::openWaiting()
{
    m_scheduled = false;
    // One script at a time, in the order asked: an address asked for while
    // the script runs waits its turn here.
    if (m_opening)
        return;
    m_opening = true;
    while (!m_waiting.isEmpty()) {
        const QString address = m_waiting.takeFirst();
        try {
            if (!SystemHelper::instance().openLink(address))
                emit failed(address);
        }
        ALOG_CATCHALL("WebLinkHandler::openWaiting")
    }
    m_opening = false;
}

void WebLinkHandler::open(const QUrl& url)
{
    qDebug().noquote() << Q_FUNC_INFO << logSafe(url.toString());
    openLater(url.toString(QUrl::FullyEncoded));
}
