#include "platform/DesktopRegistry.h"

#include "platform/DesktopIntegration.h"

#include <QFile>
#include <QMimeDatabase>
#include <cstdio>

std::string DesktopMimeTypeOfExtension(const std::string& extension) {
  const QString name = QStringLiteral("file.") + QFile::decodeName(QByteArray::fromStdString(extension));
  // By name only: a glob match, never the catch-all type of unknown files.
  const QList<QMimeType> types = QMimeDatabase().mimeTypesForFileName(name);
  return types.isEmpty() ? std::string() : types.first().name().toStdString();
}

std::unique_ptr<IRegistry> CreateDesktopRegistry() {
  const TDesktopHomes homes{DesktopDataHome(), DesktopConfigHome()};
  return std::make_unique<TFileRegistry>(
      RegistryStorePath(homes.Data), &DesktopMimeTypeOfExtension,
      [homes](const TRegistryContents& contents) {
        TSpawnDesktopTools tools;
        // The store itself was written; a desktop folder we may not write to only
        // delays the effect, so this is a note, not an error.
        if (!ReflectIntoDesktop(contents, homes, tools)) {
          std::fprintf(stderr, "tallyra: could not write every desktop file below %s\n", homes.Data.c_str());
        }
      });
}
