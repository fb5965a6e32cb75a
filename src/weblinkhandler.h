#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// While one lives, every http and https address that Qt opens itself
// (QDesktopServices::openUrl, the links of a label or message box, QML's
// Qt.openUrlExternally) goes to SystemHelper::openLink: the link script,
// which starts the browser as the desktop user, never as root, and reports
// an opener that fails. The latest one constructed is the one in use.
//
// The opening is handed over with a queued call: the script's wait
// processes events, and must not run under the label or QML handler that
// asked (a box closed in that wait would be deleted under it). GUI thread
// only.
class WebLinkHandler : public QObject
{
    Q_OBJECT
public:
    explicit WebLinkHandler(QObject* parent = nullptr);
    ~WebLinkHandler() override;

    // Whether web addresses go to a handler now: then QDesktopServices
    // hands them back to it and must not be asked to open them.
    static bool installed();

    // Opens `address` through the link script once the caller has returned.
    void openLater(const QString& address);

signals:
    // The link script could not open `address`.
    void failed(const QString& address);

public slots:
    // Called by QDesktopServices for a web address.
    void open(const QUrl& url);

private:
    void openWaiting();

    QStringList m_waiting;
    bool m_scheduled = false;
    bool m_opening = false;
};
