#pragma once
// File names cross between the window (QString) and the engines (native bytes) unchanged.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

inline std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }
inline QString FromNative(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}
// Texts of the system (error messages) in the locale's encoding.
inline QString FromLocal(const std::string& text) { return QString::fromLocal8Bit(text); }
