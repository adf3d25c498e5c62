// SPDX-License-Identifier: MIT
// Build tool: writes the program's icon as PNG for the desktop menu, from the
// same XPM images the program carries, so the two never drift apart.
//   rigplot-icon-png <size 32|16> <output.png>
#include <wx/image.h>
#include <wx/init.h>

#include <cstdio>
#include <cstring>

#include "desktop/rigplot_16.xpm"
#include "desktop/rigplot_32.xpm"

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "32") != 0 && std::strcmp(argv[1], "16") != 0)) {
    std::fprintf(stderr, "usage: rigplot-icon-png 32|16 OUTPUT.png\n");
    return 2;
  }
  wxInitializer initializer;
  if (!initializer.IsOk()) return 1;
  wxImage::AddHandler(new wxPNGHandler);
  const wxImage image(std::strcmp(argv[1], "32") == 0 ? rigplot_32_xpm : rigplot_16_xpm);
  if (!image.IsOk() || !image.SaveFile(wxString::FromUTF8(argv[2]), wxBITMAP_TYPE_PNG)) {
    std::fprintf(stderr, "rigplot-icon-png: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
