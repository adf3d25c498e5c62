#include <gtk/gtk.h>
#include <wx/menu.h>

#include "app/doc_framework.h"
#include "app/frame_platform.h"

namespace rigplot {

namespace {

GtkWidget* FindMenuBar(GtkWidget* widget) {
  if (GTK_IS_MENU_BAR(widget)) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GtkWidget* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* child = children; child != nullptr && found == nullptr; child = child->next) {
    found = FindMenuBar(GTK_WIDGET(child->data));
  }
  g_list_free(children);
  return found;
}

}  // namespace

void LetMenuBarShrink(wxMenuBar* menuBar) {
  GtkWidget* bar = FindMenuBar(menuBar->GetHandle());
  if (bar == nullptr) return;
  GList* items = gtk_container_get_children(GTK_CONTAINER(bar));
  for (GList* item = items; item != nullptr; item = item->next) {
    if (!GTK_IS_BIN(item->data)) continue;
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(item->data));
    if (label != nullptr && GTK_IS_LABEL(label)) {
      gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    }
  }
  g_list_free(items);
}

// wx holds a new frame's first show back until the window manager has
// reported its decorations, realizing it at 2 x 1 pixels meanwhile: GTK
// complains and the frame comes up at the wrong size. Shown at once instead,
// the frame is put to size and place once it is up (CMainFrame).
void CFrameWnd::ShowAtOnce() {
  m_deferShow = false;
}

}  // namespace rigplot
