#pragma once

#include <QString>

// Deployment data compiled into the client (":/deployment/"): the service's
// addresses, certificate authorities and keys. The build picks the directory
// it comes from, so no address of the service is written in code.
class Deployment
{
public:
    // A value of ":/deployment/deployment.ini", e.g. "api/primary";
    // empty when the deployment does not define it.
    static QString value(const QString& key);

    // Whole contents of one deployment file, e.g. "ca-rsa.pem"; empty when absent.
    static QByteArray file(const QString& name);
};
