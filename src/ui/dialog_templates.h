// The dialog resources: control ids, the six dialog templates and the two bitmaps.
//
// This is the one description of the dialogs. The headless control layer builds its
// dialogs from it, and the Windows resource script is written from it, so the ids,
// captions, rectangles, titles, sizes and fonts can never differ between the two.
#pragma once

#include "platform/dialog_controls.h"

// Control ids of the main configuration dialog (both variants).
enum : int {
    idc_ok = 1,
    idc_cancel = 2,
    idc_media_group = 104,
    idc_format_list = 105,
    idc_format_label = 108,
    idc_copies = 114,
    idc_copies_arrows = 115,
    idc_copies_label = 116,
    idc_media_label = 1006,
    idc_media_list = 1007,
    idc_margin_label = 1008,
    idc_margin = 1009,
    idc_margin_arrows = 1010,
    idc_length_label = 1011,
    idc_length = 1012,
    idc_print_group = 1013,
    idc_fill_group = 1017,
    idc_fill_solid = 1018,
    idc_fill_halftone = 1019,
    idc_image_group = 1025,
    idc_resolution_group = 1029,
    idc_res_600 = 1030,
    idc_res_400 = 1031,
    idc_res_300 = 1032,
    idc_res_200 = 1033,
    idc_version = 1038,
    idc_label_caption = 1039,
    idc_label_hint = 1040,
    idc_label = 1041,
    idc_colour_group = 1067,
    idc_red_group = 1068,
    idc_red_yes = 1069,
    idc_red_no = 1070,
    idc_red_pen_label = 1071,
    idc_red_pen = 1072,
    idc_language_group = 1073,
    idc_language_rtl = 1074,
    idc_language_ktgl = 1075,
    idc_options = 1076,
    idc_image_correction = 3030,
};

// Control ids of the finisher options dialog (OK and "Annuler" are 1 and 2).
enum : int {
    idc_finisher_group = 1081,
    idc_program_label = 1089,
    idc_program_list = 1096,
    idc_fmargin_label = 1008,
    idc_fmargin_list = 1094,
    idc_bin_label = 1090,
    idc_bin_list = 1095,
    idc_feed_group = 1112,
    idc_feed_yes = 1114,
    idc_feed_no = 1116,
};

// Control ids of the about box (OK is 1).
enum : int {
    idc_about_text = 501,
};

// Control ids of the colour correction dialog.
enum : int {
    idc_curve_input = 3000,
    idc_curve_output = 3002,
    idc_curve = 3009,
    idc_curve_reset = 3010,
    idc_brightness_group = 3015,
    idc_saturation_label = 3016,
    idc_saturation = 3017,
    idc_tint_label = 3018,
    idc_tint = 3019,
    idc_gamma_label = 3020,
    idc_gamma = 3021,
    idc_curve_ok = 3031,
};

// Bitmap resource ids.
enum : int {
    bitmap_curve_background = 3032, // the black square under the curve
    bitmap_about = 102,             // the about box's picture
};

extern const dialog_template installation_template;    // DETAILCFG2_FRE
extern const dialog_template plot_time_template;       // DRIVERCFG2_FRE
extern const dialog_template options_install_template; // OPTIONCFG1_FRE
extern const dialog_template options_plot_template;    // OPTIONCFG2_FRE
extern const dialog_template about_template;           // DRV_VER_FRE
extern const dialog_template colour_template;          // IDD_COLOR_FRE

extern const bitmap_resource curve_background_bitmap; // 3032
extern const bitmap_resource about_bitmap;            // 102

// Every template and bitmap, for writers of the resource script.
extern const dialog_template* const all_templates[6];
extern const bitmap_resource* const all_bitmaps[2];

// The control of a template with that id, or null.
const control_template* template_control(const dialog_template& tmpl, int id);
