// The dialog templates and bitmaps as data. Texts are Windows-1252; an escape such as
// \xE9 is closed off with "" before a letter that is also a hex digit ("D\xE9" "finir").
#include "ui/dialog_templates.h"

namespace {

using ck = control_kind;

constexpr const char* ms_sans_serif = "MS Sans Serif";

// The plot-time variant of the main configuration dialog, 459 x 263 units. The
// installation variant is derived from it below.
constexpr control_template plot_time_controls[] = {
    {idc_media_group, ck::group_box, "Configuration support", 5, 3, 449, 46, 0},
    {idc_media_label, ck::label, "S\xE9lectionner le type de support (&K):", 9, 12, 124, 10, 0},
    {idc_media_list, ck::drop_list, "", 139, 11, 176, 85, 0},
    {idc_format_label, ck::label, "Format support (&P):", 9, 33, 72, 10, 0},
    {idc_format_list, ck::drop_list, "", 88, 31, 227, 103, 0},
    {idc_margin_label, ck::label,
     "D\xE9"
     "finir la marge (&G):",
     327, 13, 70, 8, 0},
    {idc_margin, ck::edit, "", 402, 11, 45, 13, 0},
    {idc_margin_arrows, ck::up_down, "", 438, 12, 11, 13, 0},
    {idc_length_label, ck::label, "Longueur (&mm):", 328, 33, 68, 8, 0},
    {idc_length, ck::edit, "", 402, 31, 46, 13, 0},
    {idc_print_group, ck::group_box, "Configuration d'impression", 5, 54, 392, 73, 0},
    {idc_fill_group, ck::group_box, "Remplissage", 11, 65, 139, 40, 0},
    {idc_fill_solid, ck::radio_button, "Remplissage en aplat (&F)", 18, 75, 111, 10, 0},
    {idc_fill_halftone, ck::radio_button, "Remplissage en demi-teinte (&T)", 18, 91, 124, 10, 0},
    {idc_image_group, ck::group_box, "Image", 161, 61, 230, 60, 0},
    {idc_resolution_group, ck::group_box, "S\xE9lectionner la r\xE9solution", 167, 72, 124, 44, 0},
    {idc_res_600, ck::radio_button, "600(&6)", 174, 84, 50, 10, 0},
    {idc_res_400, ck::radio_button, "400(&4)", 229, 84, 54, 10, 0},
    {idc_res_300, ck::radio_button, "300(&3)", 174, 100, 50, 10, 0},
    {idc_res_200, ck::radio_button, "200(&2)", 229, 100, 57, 10, 0},
    {idc_image_correction, ck::push_button, "Correction d'image...", 299, 77, 85, 17, 0},
    {idc_label_caption, ck::label, "\xC9tiquette (&L):", 10, 135, 81, 8, 0},
    {idc_label_hint, ck::label, "(Alphanum\xE9rique uniquement)", 10, 145, 106, 8, 0},
    {idc_label, ck::edit, "", 121, 133, 332, 13, 0},
    {idc_colour_group, ck::group_box, "+1 couleur (&U)", 5, 157, 183, 73, 0},
    {idc_red_group, ck::group_box, "Impression rouge", 11, 169, 91, 40, 0},
    {idc_red_yes, ck::radio_button, "Oui (&E)", 15, 179, 75, 10, 0},
    {idc_red_no, ck::radio_button, "Non (&O)", 15, 195, 77, 10, 0},
    {idc_red_pen_label, ck::label,
     "Num\xE9ro de plume rouge sp\xE9"
     "cifi\xE9"
     "e (&A):",
     11, 217, 134, 8, 0},
    {idc_red_pen, ck::edit, "", 152, 212, 29, 13, 0},
    {idc_copies_label, ck::label, "Nombre de copies (&Y):", 202, 161, 84, 8, 0},
    {idc_copies, ck::edit, "", 291, 157, 40, 13, 0},
    {idc_copies_arrows, ck::up_down, "", 319, 159, 11, 13, 0},
    {idc_language_group, ck::group_box,
     "S\xE9lectionner les donn\xE9"
     "es g\xE9n\xE9r\xE9"
     "es",
     202, 179, 143, 40, 0},
    {idc_language_rtl, ck::radio_button, "RTL/GL2(&R)", 208, 191, 68, 10, 0},
    {idc_language_ktgl, ck::radio_button, "KTGL+MMR(&V)", 208, 205, 79, 10, 0},
    {idc_version, ck::push_button, "Version...", 358, 185, 49, 14, 0},
    {idc_options, ck::push_button, "Options...", 121, 241, 50, 14, 0},
    {idc_ok, ck::default_button, "OK", 204, 241, 50, 14, 0},
    {idc_cancel, ck::push_button, "Annuler", 288, 241, 50, 14, 0},
};

constexpr int plot_time_count = sizeof plot_time_controls / sizeof plot_time_controls[0];

// The installation variant (459 x 242 units): no label field (1039-1041), and every
// control from the "+1 couleur" group on sits 22 units higher.
struct installation_controls {
    control_template c[plot_time_count - 3];
    constexpr installation_controls() : c() {
        int n = 0;
        bool lifted = false;
        for (const control_template& t : plot_time_controls) {
            if (t.id == idc_label_caption || t.id == idc_label_hint || t.id == idc_label) continue;
            if (t.id == idc_colour_group) lifted = true;
            c[n] = t;
            if (lifted) c[n].y -= 22;
            ++n;
        }
    }
};

constexpr installation_controls installation_layout;

// The finisher options dialog, 307 x 141 units; both variants share these controls.
constexpr control_template options_controls[] = {
    {idc_finisher_group, ck::group_box, "Plieuse (&F)", 5, 6, 297, 76, 0},
    {idc_program_label, ck::label, "Programme (&P)", 15, 20, 63, 8, 0},
    {idc_program_list, ck::drop_list, "", 85, 20, 150, 130, 0},
    {idc_fmargin_label, ck::label, "Marge (&M)", 15, 40, 65, 8, 0},
    {idc_fmargin_list, ck::drop_list, "", 85, 40, 150, 85, 0},
    {idc_bin_label, ck::label,
     "Bac r\xE9"
     "cepteur (&O)",
     15, 60, 64, 8, 0},
    {idc_bin_list, ck::drop_list, "", 85, 60, 150, 144, 0},
    {idc_feed_group, ck::group_box,
     "R\xE9"
     "ception en manuel",
     5, 90, 93, 40, 0},
    {idc_feed_yes, ck::radio_button, "Oui (&1)", 24, 100, 49, 10, 0},
    {idc_feed_no, ck::radio_button, "Non (&0)", 24, 116, 46, 10, 0},
    {idc_ok, ck::default_button, "OK", 130, 103, 50, 14, 0},
    {idc_cancel, ck::push_button, "Annuler", 211, 103, 50, 14, 0},
};

// The about box, 293 x 114 units; label 501 receives the identification at start.
constexpr control_template about_controls[] = {
    {idc_ok, ck::default_button, "OK", 157, 78, 44, 14, 0},
    {idc_about_text, ck::label_centred, "Orvix KTGL+MMR, pilote RTL/GL2", 4, 11, 286, 8, 0},
    {-1, ck::picture, "", 91, 61, 43, 43, bitmap_about},
};

// The colour correction dialog, 269 x 153 units, no caption. The twenty unnumbered
// statics are the tick marks around the curve area (58, 15, 85, 79).
constexpr control_template colour_controls[] = {
    {idc_curve, ck::owner_button, "", 58, 15, 85, 79, 0},
    {idc_curve_input, ck::label,
     "Entr\xE9"
     "e",
     88, 107, 32, 11, 0},
    {idc_curve_output, ck::label_centred,
     "R\xE9"
     "ception",
     4, 47, 42, 11, 0},
    {3005, ck::label, "0%", 54, 107, 13, 10, 0},
    {3006, ck::label_right, "100%", 129, 107, 24, 10, 0},
    {3007, ck::label_right, "0%", 30, 85, 17, 10, 0},
    {3008, ck::label_right, "100%", 25, 7, 23, 8, 0},
    {3001, ck::label_centred, "", 0, 29, 29, 10, 0},
    {3003, ck::label_centred, "", 5, 113, 29, 10, 0},
    {3004, ck::label_centred, "", 0, 31, 29, 10, 0},
    {idc_curve_reset, ck::default_button,
     "Valeur pr\xE9"
     "d\xE9"
     "finie",
     159, 96, 79, 14, 0},
    {idc_brightness_group, ck::group_box, "Commande de luminosit\xE9", 160, 14, 103, 70, 0},
    {idc_saturation_label, ck::label, "Saturation", 187, 31, 43, 11, 0},
    {idc_saturation, ck::scroll_bar, "", 165, 27, 16, 13, 0},
    {idc_tint_label, ck::label, "Teinte", 187, 50, 36, 11, 0},
    {idc_tint, ck::scroll_bar, "", 165, 48, 16, 13, 0},
    {idc_gamma_label, ck::label, "Gamma", 187, 71, 44, 11, 0},
    {idc_gamma, ck::scroll_bar, "", 165, 68, 16, 13, 0},
    {idc_curve_ok, ck::default_button, "OK", 98, 130, 41, 13, 0},
    // Ticks below and above the curve area, at its fifths.
    {-1, ck::label, "|", 59, 97, 4, 8, 0},
    {-1, ck::label, "|", 78, 97, 4, 8, 0},
    {-1, ck::label, "|", 98, 97, 4, 8, 0},
    {-1, ck::label, "|", 119, 97, 4, 8, 0},
    {-1, ck::label, "|", 138, 97, 4, 8, 0},
    {-1, ck::label, "|", 59, 3, 4, 8, 0},
    {-1, ck::label, "|", 79, 4, 4, 8, 0},
    {-1, ck::label, "|", 98, 3, 4, 8, 0},
    {-1, ck::label, "|", 119, 4, 4, 8, 0},
    {-1, ck::label, "|", 139, 3, 4, 8, 0},
    // Ticks right and left of it.
    {-1, ck::label, "_", 145, 8, 8, 8, 0},
    {-1, ck::label, "_", 146, 27, 8, 8, 0},
    {-1, ck::label, "_", 145, 45, 8, 8, 0},
    {-1, ck::label, "_", 146, 66, 8, 8, 0},
    {-1, ck::label, "_", 145, 87, 8, 8, 0},
    {-1, ck::label, "_", 50, 9, 8, 8, 0},
    {-1, ck::label, "_", 50, 27, 8, 8, 0},
    {-1, ck::label, "_", 50, 45, 8, 8, 0},
    {-1, ck::label, "_", 50, 67, 8, 8, 0},
    {-1, ck::label, "_", 50, 86, 8, 8, 0},
};

template <int N> constexpr int count_of(const control_template (&)[N]) {
    return N;
}

} // namespace

const dialog_template plot_time_template = {
    "DRIVERCFG2_FRE",
    "Configuration Orvix 9270/9250 Wide Format ",
    4,
    19,
    459,
    263,
    ms_sans_serif,
    8,
    plot_time_controls,
    plot_time_count,
};

const dialog_template installation_template = {
    "DETAILCFG2_FRE",
    "Installation Orvix 9270/9250 Wide Format",
    4,
    19,
    459,
    242,
    ms_sans_serif,
    8,
    installation_layout.c,
    plot_time_count - 3,
};

const dialog_template options_install_template = {
    "OPTIONCFG1_FRE",
    "Installation Orvix 9270/9250 Wide Format - Options",
    4,
    19,
    307,
    141,
    ms_sans_serif,
    8,
    options_controls,
    count_of(options_controls),
};

const dialog_template options_plot_template = {
    "OPTIONCFG2_FRE",
    "Configuration Orvix 9270/9250 Wide Format - Options",
    4,
    19,
    307,
    141,
    ms_sans_serif,
    8,
    options_controls,
    count_of(options_controls),
};

const dialog_template about_template = {
    "DRV_VER_FRE",  "Au sujet du pilote",     16, 16, 293, 114, ms_sans_serif, 8,
    about_controls, count_of(about_controls),
};

const dialog_template colour_template = {
    "IDD_COLOR_FRE",           nullptr, 0, 0, 269, 153, ms_sans_serif, 9, colour_controls,
    count_of(colour_controls),
};

// 63 x 52 pixels, 4 bits per pixel, all black.
const bitmap_resource curve_background_bitmap = {bitmap_curve_background, 63, 52, 4, 0};

// The about box's picture: a plain grey square.
const bitmap_resource about_bitmap = {bitmap_about, 32, 32, 4, 7};

const dialog_template* const all_templates[6] = {
    &installation_template, &plot_time_template, &options_install_template,
    &options_plot_template, &about_template,     &colour_template,
};

const bitmap_resource* const all_bitmaps[2] = {&curve_background_bitmap, &about_bitmap};

const control_template* template_control(const dialog_template& tmpl, int id) {
    for (int i = 0; i < tmpl.control_count; ++i)
        if (tmpl.controls[i].id == id) return &tmpl.controls[i];
    return nullptr;
}
