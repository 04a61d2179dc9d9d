// The dialog shown with GTK 3: one fixed layout holding a widget per control at the control's
// place in pixels, modal, without a close box. The stand-in's controls stay the truth: a widget
// the user changes passes the change on as the same click, typing or choice a script makes, and
// every widget is refreshed from its control afterwards (the dialog procedure may have changed any).
#include "w32_dialog.h"

#include <gtk/gtk.h>

#include <string.h>

#include <algorithm>
#include <vector>

namespace w32 {

namespace {

struct Widget {
    ControlView control;
    GtkWidget* widget = nullptr;
    GtkWidget* entry = nullptr;  // the text field of an edit or an editable combo box
};

struct View {
    HWND dialog = nullptr;
    std::vector<Widget> widgets;
    bool syncing = false;  // set while widgets are refreshed, so their signals are not user input
};

GdkPixbuf* PixbufOfBitmap(const unsigned char* bitmap, size_t size) {
    // A bitmap resource is a BMP file without its 14-byte file header.
    if (size < 40) return nullptr;
    uint32_t headerSize = bitmap[0] | bitmap[1] << 8 | bitmap[2] << 16 | (uint32_t)bitmap[3] << 24;
    uint16_t bits = (uint16_t)(bitmap[14] | bitmap[15] << 8);
    uint32_t used = bitmap[32] | bitmap[33] << 8 | bitmap[34] << 16 | (uint32_t)bitmap[35] << 24;
    uint32_t colours = bits <= 8 ? (used ? used : 1u << bits) : 0;
    uint32_t offset = 14 + headerSize + colours * 4;
    uint32_t total = (uint32_t)size + 14;
    unsigned char file[14] = {'B', 'M', (unsigned char)total, (unsigned char)(total >> 8), (unsigned char)(total >> 16),
                              (unsigned char)(total >> 24), 0, 0, 0, 0, (unsigned char)offset,
                              (unsigned char)(offset >> 8), (unsigned char)(offset >> 16), (unsigned char)(offset >> 24)};
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("bmp", nullptr);
    if (!loader) return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, file, sizeof(file), nullptr) &&
        gdk_pixbuf_loader_write(loader, bitmap, size, nullptr) && gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf) g_object_ref(pixbuf);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return pixbuf;
}

// Brings every widget to its control's state.
void Sync(View* view) {
    DialogView now = ViewOf(view->dialog);
    view->syncing = true;
    for (Widget& w : view->widgets) {
        for (const ControlView& c : now.controls) {
            if (c.handle != w.control.handle) continue;
            bool itemsChanged = c.items != w.control.items;
            w.control = c;
            if (c.kind == ControlKind::CheckBox) {
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w.widget), c.checked);
            } else if (c.kind == ControlKind::Edit) {
                if (strcmp(gtk_entry_get_text(GTK_ENTRY(w.entry)), c.text.c_str()))
                    gtk_entry_set_text(GTK_ENTRY(w.entry), c.text.c_str());
            } else if (c.kind == ControlKind::ComboBox) {
                GtkComboBoxText* box = GTK_COMBO_BOX_TEXT(w.widget);
                if (itemsChanged) {
                    gtk_combo_box_text_remove_all(box);
                    for (const std::string& item : c.items) gtk_combo_box_text_append_text(box, item.c_str());
                }
                if (gtk_combo_box_get_active(GTK_COMBO_BOX(box)) != c.selection)
                    gtk_combo_box_set_active(GTK_COMBO_BOX(box), c.selection);
                if (w.entry && strcmp(gtk_entry_get_text(GTK_ENTRY(w.entry)), c.text.c_str()))
                    gtk_entry_set_text(GTK_ENTRY(w.entry), c.text.c_str());
            } else if (c.kind == ControlKind::PushButton || c.kind == ControlKind::Label) {
                if (GTK_IS_BUTTON(w.widget)) gtk_button_set_label(GTK_BUTTON(w.widget), c.text.c_str());
                else gtk_label_set_text(GTK_LABEL(w.widget), c.text.c_str());
            }
        }
    }
    view->syncing = false;
}

struct Signal {
    View* view;
    Widget* widget;
};

void OnClicked(GtkWidget*, gpointer data) {
    Signal* s = (Signal*)data;
    if (s->view->syncing) return;
    DialogClick(s->view->dialog, s->widget->control.id);
    Sync(s->view);
}

void OnEntryChanged(GtkEditable*, gpointer data) {
    Signal* s = (Signal*)data;
    if (s->view->syncing) return;
    DialogType(s->view->dialog, s->widget->control.id, gtk_entry_get_text(GTK_ENTRY(s->widget->entry)));
    Sync(s->view);
}

void OnComboChanged(GtkComboBox* box, gpointer data) {
    Signal* s = (Signal*)data;
    int active = gtk_combo_box_get_active(box);
    if (s->view->syncing || active < 0) return;  // typing reaches us through the entry
    DialogPick(s->view->dialog, s->widget->control.id, active);
    Sync(s->view);
}

void OnSpin(GtkWidget* button, gpointer data) {
    Signal* s = (Signal*)data;
    int direction = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "direction"));
    DialogSpin(s->view->dialog, s->widget->control.id, direction);
    Sync(s->view);
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    // Only the dialog's own buttons close it; the close request goes to it as on Windows.
    View* view = (View*)data;
    PostMessageA(view->dialog, WM_CLOSE, 0, 0);
    return TRUE;
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    View* view = (View*)data;
    UINT key = event->keyval == GDK_KEY_Escape ? VK_ESCAPE
               : (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) ? VK_RETURN : 0;
    if (!key) return FALSE;
    DialogKey(view->dialog, key);
    Sync(view);
    return TRUE;
}

// The template's font, and controls as compact as the classic ones, so that the text fits the
// places the template gives in dialog units of that font.
void Style(GtkWidget* window, const DialogView& layout) {
    std::string css = "* { font-size: " + std::to_string(layout.pointSize > 0 ? layout.pointSize : 9) + "pt; ";
    if (!layout.fontName.empty()) css += "font-family: \"" + layout.fontName + "\", sans-serif; ";
    css += "}\n"
           "entry, button, combobox button, combobox entry { min-height: 0; padding: 0 3px; }\n"
           "checkbutton { padding: 0; } check { min-width: 11px; min-height: 11px; margin: 0 3px 0 0; }\n"
           "frame > border { border-radius: 0; }\n";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

GtkWidget* Build(View* view, const DialogView& layout, std::vector<Signal>* signals) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    Style(window, layout);
    gtk_window_set_title(GTK_WINDOW(window), layout.title.c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_deletable(GTK_WINDOW(window), FALSE);
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, layout.clientWidth, layout.clientHeight);
    gtk_container_add(GTK_CONTAINER(window), fixed);
    g_signal_connect(window, "delete-event", G_CALLBACK(OnDelete), view);
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnKey), view);

    view->widgets.reserve(layout.controls.size());
    signals->reserve(layout.controls.size());
    for (const ControlView& c : layout.controls) {
        view->widgets.push_back(Widget());
        Widget& w = view->widgets.back();
        w.control = c;
        w.control.items.clear();  // the first refresh fills the lists
        signals->push_back(Signal{view, &w});
        Signal* s = &signals->back();
        int width = c.rect.right - c.rect.left, height = c.rect.bottom - c.rect.top;
        switch (c.kind) {
        case ControlKind::PushButton:
            w.widget = gtk_button_new_with_label(c.text.c_str());
            if (c.defaultButton) {
                gtk_widget_set_can_default(w.widget, TRUE);
                gtk_window_set_default(GTK_WINDOW(window), w.widget);
            }
            g_signal_connect(w.widget, "clicked", G_CALLBACK(OnClicked), s);
            break;
        case ControlKind::CheckBox:
            w.widget = gtk_check_button_new_with_label(c.text.c_str());
            g_signal_connect(w.widget, "clicked", G_CALLBACK(OnClicked), s);
            break;
        case ControlKind::GroupBox:
            w.widget = gtk_frame_new(c.text.empty() ? nullptr : c.text.c_str());
            break;
        case ControlKind::Label:
            w.widget = gtk_label_new(c.text.c_str());
            gtk_label_set_xalign(GTK_LABEL(w.widget), 0.0f);
            break;
        case ControlKind::Picture: {
            GdkPixbuf* pixbuf = c.bitmap ? PixbufOfBitmap(c.bitmap, c.bitmapSize) : nullptr;
            w.widget = pixbuf ? gtk_image_new_from_pixbuf(pixbuf) : gtk_image_new();
            if (pixbuf) g_object_unref(pixbuf);
            break;
        }
        case ControlKind::Edit:
            w.widget = w.entry = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(w.entry), 1);
            if (c.digitsOnly) gtk_entry_set_input_purpose(GTK_ENTRY(w.entry), GTK_INPUT_PURPOSE_DIGITS);
            g_signal_connect(w.entry, "changed", G_CALLBACK(OnEntryChanged), s);
            break;
        case ControlKind::ComboBox:
            // The rectangle includes the dropped-down list; the field itself is one text line high.
            height = std::min(height, 24);
            w.widget = c.editable ? gtk_combo_box_text_new_with_entry() : gtk_combo_box_text_new();
            if (c.editable) {
                w.entry = gtk_bin_get_child(GTK_BIN(w.widget));
                gtk_entry_set_width_chars(GTK_ENTRY(w.entry), 1);
                g_signal_connect(w.entry, "changed", G_CALLBACK(OnEntryChanged), s);
            }
            g_signal_connect(w.widget, "changed", G_CALLBACK(OnComboChanged), s);
            break;
        case ControlKind::UpDown: {
            w.widget = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
            const int directions[2] = {1, -1};
            for (int direction : directions) {
                GtkWidget* arrow = gtk_button_new_from_icon_name(direction > 0 ? "pan-up-symbolic" : "pan-down-symbolic",
                                                                 GTK_ICON_SIZE_MENU);
                g_object_set_data(G_OBJECT(arrow), "direction", GINT_TO_POINTER(direction));
                g_signal_connect(arrow, "clicked", G_CALLBACK(OnSpin), s);
                gtk_box_pack_start(GTK_BOX(w.widget), arrow, TRUE, TRUE, 0);
            }
            break;
        }
        case ControlKind::Other:
            continue;
        }
        gtk_widget_set_size_request(w.widget, width, height);
        gtk_fixed_put(GTK_FIXED(fixed), w.widget, c.rect.left, c.rect.top);
    }
    return window;
}

}  // namespace

bool RunDialogView(HWND dialog) {
    static bool started = gtk_init_check(nullptr, nullptr);
    if (!started) return false;
    View view;
    view.dialog = dialog;
    std::vector<Signal> signals;
    GtkWidget* window = Build(&view, ViewOf(dialog), &signals);
    Sync(&view);
    gtk_widget_show_all(window);
    while (!DialogEnded(dialog)) {
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
        if (!DialogPump(dialog)) break;
        g_usleep(10000);
    }
    gtk_widget_destroy(window);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return true;
}

}  // namespace w32
