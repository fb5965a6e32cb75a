#pragma once

#include "model/constants.h"
#include "model/region.h"

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <atomic>

// One server location: code, display texts, the address to connect to, two
// flags, a region, the last measured latency and the user's favourite flag
// with the protocol and port remembered for it.
//
// Every operation belongs to the thread the object lives in, except
// setPingMs(), which the latency threads call: the value is stored
// atomically and pingMsChanged is always emitted on the object's own thread.
class Location : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(Constants::LocationType locationType READ locationType WRITE setLocationType NOTIFY locationTypeChanged)
    Q_PROPERTY(QString caption READ caption WRITE setCaption NOTIFY captionChanged)
    Q_PROPERTY(QString host READ host WRITE setHost NOTIFY hostChanged)
    Q_PROPERTY(QString remoteIdentifier READ remoteIdentifier WRITE setRemoteIdentifier NOTIFY remoteIdentifierChanged)
    Q_PROPERTY(QString country READ country WRITE setCountry NOTIFY countryChanged)
    Q_PROPERTY(QString code READ code WRITE setCode NOTIFY codeChanged)
    Q_PROPERTY(QString city READ city WRITE setCity NOTIFY cityChanged)
    Q_PROPERTY(Region::Ptr region READ region WRITE setRegion NOTIFY regionChanged)
    Q_PROPERTY(Region* regionRaw READ regionRaw NOTIFY regionRawChanged)
    Q_PROPERTY(QIcon icon1 READ icon1 NOTIFY icon1Changed)
    Q_PROPERTY(QIcon icon2 READ icon2 NOTIFY icon2Changed)
    Q_PROPERTY(QImage image1 READ image1 NOTIFY image1Changed)
    Q_PROPERTY(QImage image2 READ image2 NOTIFY image2Changed)
    Q_PROPERTY(int pingMs READ pingMs WRITE setPingMs NOTIFY pingMsChanged)
    Q_PROPERTY(bool favorite READ favorite WRITE setFavorite NOTIFY favoriteChanged)
    Q_PROPERTY(Constants::ProtocolType favoriteProtocolType READ favoriteProtocolType WRITE setFavoriteProtocolType
                   NOTIFY favoriteProtocolTypeChanged)
    Q_PROPERTY(QString favoritePortId READ favoritePortId WRITE setFavoritePortId NOTIFY favoritePortIdChanged)
    Q_PROPERTY(QString favoriteProtocolAndPortString READ favoriteProtocolAndPortString WRITE
                   setFavoriteProtocolAndPortString NOTIFY favoriteProtocolAndPortStringChanged)

public:
    typedef QSharedPointer<Location> Ptr;

    explicit Location(QString id, QObject* parent = nullptr);

    QString id() const { return m_id; }
    QString name() const { return m_name; }
    Constants::LocationType locationType() const { return m_locationType; }
    QString caption() const { return m_caption; }
    QString host() const { return m_host; }
    QString remoteIdentifier() const { return m_remoteIdentifier; }
    QString country() const { return m_country; }
    QString code() const { return m_code; }
    QString city() const { return m_city; }
    Region::Ptr region() const { return m_region; }
    Region* regionRaw() const { return m_region.data(); }
    QIcon icon1() const;
    QIcon icon2() const;
    QImage image1() const { return m_image1; }
    QImage image2() const { return m_image2; }
    int pingMs() const { return m_pingMs.load(); }
    bool favorite() const { return m_favorite; }
    Constants::ProtocolType favoriteProtocolType() const { return m_favoriteProtocolType; }
    QString favoritePortId() const { return m_favoritePortId; }
    QString favoriteProtocolAndPortString() const { return m_favoriteProtocolAndPortString; }

    // Flag codes: the first and the second pair of letters of the code, each
    // empty when the code is too short or a digit stands in its place.
    Q_INVOKABLE QString firstCountryCode() const;
    Q_INVOKABLE QString secondCountryCode() const;
    Q_INVOKABLE QString connectionHost() const;

    // The compiled-in flag image of a two-letter country code.
    static QString flagResourcePath(const QString& countryCode);

    // The display id: "[IKE]country - city" for IKEv2 locations, otherwise
    // the caption, followed by " - " and the region's caption when there is a
    // region.
    QString makeId() const;

    // Takes over the fresh values of a location with the same code; the id,
    // the latency and the favourite fields stay.
    void update(const Location& location);

    // The favourite entry: the code, or "code|protocol text|port id" when a
    // protocol or a port is remembered.
    QString saveToString() const;
    // Reads a favourite entry; outputs whose part is missing keep their value.
    // True when the entry has a non-empty code.
    static bool parseFromString(const QString& str, QString& code, Constants::ProtocolType& protocolType,
                                QString& portId);

signals:
    void idChanged(QString id);
    void nameChanged(QString name);
    void locationTypeChanged(Constants::LocationType locationType);
    void captionChanged(QString caption);
    void hostChanged(QString host);
    void remoteIdentifierChanged(QString remoteIdentifier);
    void countryChanged(QString country);
    void codeChanged(QString code);
    void cityChanged(QString city);
    void icon1Changed(QIcon icon1);
    void icon2Changed(QIcon icon2);
    void image1Changed(QImage image1);
    void image2Changed(QImage image2);
    void regionChanged(Region::Ptr region);
    void regionRawChanged(Region* regionRaw);
    void pingMsChanged(int pingMs);
    void favoriteChanged(bool favorite);
    void favoriteProtocolTypeChanged(Constants::ProtocolType favoriteProtocolType);
    void favoritePortIdChanged(QString favoritePortId);
    void favoriteProtocolAndPortStringChanged(QString favoriteProtocolAndPortString);

public slots:
    void setId(QString id);
    void setName(QString name);
    void setLocationType(Constants::LocationType locationType);
    void setCaption(QString caption);
    void setHost(QString host);
    void setRemoteIdentifier(QString remoteIdentifier);
    void setCountry(QString country);
    void setCode(QString code);
    void setCity(QString city);
    void setRegion(Region::Ptr region);
    // Loads both flags from the compiled-in images; emits nothing.
    void initImages();
    // Safe from any thread.
    void setPingMs(int pingMs);
    void setFavorite(bool favorite);
    void setFavoriteProtocolType(Constants::ProtocolType favoriteProtocolType);
    void setFavoritePortId(QString favoritePortId);
    void setFavoriteProtocolAndPortString(QString favoriteProtocolAndPortString);
    void updateFavoriteProtocolAndPortString();
    int pingMsNoValue() const { return -1; }

private:
    // Runs on the object's thread: announces the stored latency unless it was
    // the last one announced.
    void notifyPingMs();
    static void loadFlag(const QString& path, QString& loadedPath, QImage& image, QIcon& icon);
    static QIcon iconOf(const QImage& image, QIcon& cached);

    Constants::LocationType m_locationType = Constants::LocationType_Common;
    QString m_id;
    QString m_name;
    QString m_caption;
    QString m_host;
    QString m_remoteIdentifier;
    QString m_country;
    QString m_code;
    QString m_city;
    // Icons are made from the images on first use, on the reading (GUI)
    // thread: pixmaps are not built on the parser or latency threads.
    mutable QIcon m_icon1;
    mutable QIcon m_icon2;
    QImage m_image1;
    QImage m_image2;
    Region::Ptr m_region;
    std::atomic<int> m_pingMs { -1 };
    int m_notifiedPingMs = -1;
    bool m_favorite = false;
    Constants::ProtocolType m_favoriteProtocolType = Constants::ProtocolType_UNKNOWN;
    QString m_favoritePortId;
    QString m_favoriteProtocolAndPortString;
    // Resource paths the images were loaded from (a merge reloads them).
    QString m_image1Path;
    QString m_image2Path;
};
