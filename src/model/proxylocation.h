#pragma once

#include "model/standartsimplemodel.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

// One V2Ray proxy location. The id "1" stands for no proxy, "2" for the
// user's own local SOCKS proxy; any other id is a server reached through the
// local V2Ray client.
class ProxyLocation : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id CONSTANT)
    Q_PROPERTY(QString caption READ caption WRITE setCaption NOTIFY captionChanged)
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY addressChanged)
    Q_PROPERTY(QString port READ port WRITE setPort NOTIFY portChanged)
    Q_PROPERTY(QString userid READ userid WRITE setUserid NOTIFY useridChanged)
    Q_PROPERTY(QString alterid READ alterid WRITE setAlterid NOTIFY alteridChanged)
    Q_PROPERTY(QString path READ path WRITE setPath NOTIFY pathChanged)

public:
    typedef QSharedPointer<ProxyLocation> Ptr;

    ProxyLocation(const QString& id, const QString& caption, const QString& address, const QString& port,
                  const QString& userid, const QString& alterid, const QString& path, QObject* parent = nullptr);

    QString id() const { return m_id; }
    QString caption() const { return m_caption; }
    QString address() const { return m_address; }
    QString port() const { return m_port; }
    QString userid() const { return m_userid; }
    QString alterid() const { return m_alterid; }
    QString path() const { return m_path; }

    // The explicit first code when set, otherwise the id's first two
    // characters unless the id is shorter or one of them is a digit.
    Q_INVOKABLE QString firstCountryCode() const;
    // The id's third and fourth characters unless the id is shorter or one of
    // them is a digit; never the explicit code.
    Q_INVOKABLE QString secondCountryCode() const;

    // Takes over the caption.
    void update(const ProxyLocation& another);

    // Whether a V2Ray server with these values can be written into the V2Ray
    // configuration and the OpenVPN bypass route: a host name or a plain
    // address without scope, a port 1-65535 and an alter id 0-65535 in plain
    // decimal, a user id and a path without control characters, quotes or
    // backslashes. The proxy list keeps only such entries and the writers
    // refuse anything else, so every entry shown can be used. `whyNot` gets
    // the first unusable field's name.
    static bool usableValues(const QString& address, const QString& port, const QString& userid, const QString& alterid,
                             const QString& path, QString* whyNot = nullptr);
    bool isUsable(QString* whyNot = nullptr) const;
    // A host name, a plain dotted IPv4 address or an IPv6 address without scope.
    static bool isUsableAddress(const QString& address);

signals:
    void captionChanged(QString caption);
    void addressChanged(QString address);
    void portChanged(QString port);
    void useridChanged(QString userid);
    void alteridChanged(QString alterid);
    void pathChanged(QString path);
    void firstCountryCodeChanged(QString firstCountryCode);

public slots:
    void setCaption(QString caption);
    void setAddress(QString address);
    void setPort(QString port);
    void setUserid(QString userid);
    void setAlterid(QString alterid);
    void setPath(QString path);
    void setFirstCountryCode(QString firstCountryCode);

private:
    QString m_id;
    QString m_caption;
    QString m_address;
    QString m_port;
    QString m_userid;
    QString m_alterid;
    QString m_path;
    QString m_firstCountryCode;
};

class ProxyLocationModel : public StandartSimpleModel<ProxyLocation, ProxyLocation::Ptr, QString>
{
    Q_OBJECT
public:
    explicit ProxyLocationModel(QObject* parent = nullptr);

    QString idFromElem(const ProxyLocation::Ptr& elem) const override { return elem->id(); }

public slots:
    int getCount() const { return count(); }
};
