#pragma once

#include <QByteArray>
#include <QString>

// Whole-file reading and writing. Writers create missing parent directories;
// failures are logged as warnings and leave the file as it was.
void qbytearray_to_file(const QString& file_name, const QByteArray& ba);
QByteArray qbytearray_from_file(const QString& file_name, bool must_exist);
void qstring_to_file(const QString& file_name, const QString& s);
QString qstring_from_file(const QString& file_name, bool must_exist);
