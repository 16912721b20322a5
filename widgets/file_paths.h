#pragma once
// Paths between the windows' texts and the file system's bytes, in the encoding
// the locale gives file names.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace widgets {

inline std::string EncodePath(const QString& path) { return QFile::encodeName(path).toStdString(); }
inline QString DecodePath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace widgets
