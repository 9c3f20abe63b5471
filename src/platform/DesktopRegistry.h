#pragma once
// The registry object the program uses on this desktop: the per-user file store under
// $XDG_DATA_HOME/tallyra/, file-type keys it does not hold answered from the desktop's
// MIME database (QMimeDatabase), and, when the object goes after a change, the store
// reflected into the desktop (DesktopIntegration.h). GUI thread only.
#include "platform/Registry.h"

#include <memory>
#include <string>

// The MIME type the desktop's database gives "*.<extension>" files by name alone;
// "" when it knows none.
std::string DesktopMimeTypeOfExtension(const std::string& extension);

std::unique_ptr<IRegistry> CreateDesktopRegistry();
