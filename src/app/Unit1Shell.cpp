// The shell association: "&Associate with .SFV files" registers the program for .sfv
// files and a "Create SFV File" verb on RAR files (ShellAssociation.h).
#include "app/Unit1.h"

#include "app/ShellAssociation.h"
#include "platform/DesktopRegistry.h"

void TForm1::AssociatewithSFVfiles1Click() { RegisterFileTypes(); }

void TForm1::RegisterFileTypes() {
  std::unique_ptr<IRegistry> registry =
      services_.Registry ? services_.Registry() : CreateDesktopRegistry();
  // The path as the system reports it for the running program, unquoted.
  ::RegisterFileTypes(std::move(registry), services_.Paths.ExeName);
}
