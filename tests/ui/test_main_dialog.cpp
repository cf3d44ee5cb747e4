// The main configuration dialog driven as a user drives it.
#include "ui/dialog_user.h"

#include "ui/dialogs.h"
#include "ui/main_dialog.h"

namespace {

using namespace ua;

constexpr unsigned exclamation_ok = mb_ok | mb_icon_exclamation;

class MainDialog : public DialogUser {
  protected:
    int run(main_variant v = main_variant::installation) { return run_main_dialog(nullptr, v); }
};

TEST_F(MainDialog, OpensWithThisModelsCapabilities) {
    settings.media_type = 2;
    bool probed = false;
    on_probe([&](dialog_handle dlg, int) {
        probed = true;
        auto formats = rows_of(dlg, idc_format_list);
        ASSERT_EQ(formats.size(), 41u);
        EXPECT_EQ(trimmed(formats[0].c_str()), "E-arch(36po)");
        EXPECT_EQ(trimmed(formats[32].c_str()), "Format perso. largeur A0");
        EXPECT_EQ(list_selection(dlg, idc_format_list), 0);
        auto media = rows_of(dlg, idc_media_list);
        ASSERT_EQ(media.size(), 4u);
        EXPECT_EQ(trimmed(media[2].c_str()), "Utiliser le param\xE8tre du traceur");
        EXPECT_EQ(trimmed(media[3].c_str()), "Vellum");
        EXPECT_EQ(list_selection(dlg, idc_media_list), 2);
        EXPECT_TRUE(headless_checked(dlg, idc_fill_halftone));
        EXPECT_FALSE(headless_checked(dlg, idc_fill_solid));
        EXPECT_TRUE(headless_checked(dlg, idc_res_600));
        EXPECT_TRUE(headless_enabled(dlg, idc_res_300));
        // No red pen and no KTGL+MMR on this model: both groups disabled, RTL/GL2 checked.
        for (int id : {idc_colour_group, idc_red_group, idc_red_yes, idc_red_no, idc_red_pen_label,
                       idc_red_pen, idc_language_group, idc_language_rtl, idc_language_ktgl})
            EXPECT_FALSE(headless_enabled(dlg, id)) << id;
        EXPECT_TRUE(headless_checked(dlg, idc_language_rtl));
        EXPECT_STREQ(headless_text(dlg, idc_copies), "1");
        EXPECT_EQ(headless_text_limit(dlg, idc_copies), 2);
        int low, high, pos;
        headless_updown(dlg, idc_copies_arrows, &low, &high, &pos);
        EXPECT_EQ(std::vector<int>({low, high, pos}), std::vector<int>({1, 99, 1}));
        EXPECT_STREQ(headless_text(dlg, idc_margin), "0");
        headless_updown(dlg, idc_margin_arrows, &low, &high, &pos);
        EXPECT_EQ(std::vector<int>({low, high, pos}), std::vector<int>({0, 10, 0}));
        // E-arch is no custom-length format.
        EXPECT_FALSE(headless_enabled(dlg, idc_length));
        EXPECT_FALSE(headless_exists(dlg, idc_label));
    });
    act({probe(1), click(idc_cancel)});
    EXPECT_EQ(run(), 5);
    EXPECT_TRUE(probed);
}

TEST_F(MainDialog, PlotTimeVariantShowsTheLabel) {
    std::strcpy(runtime.label_text, "AB");
    on_probe([&](dialog_handle dlg, int) {
        EXPECT_STREQ(headless_template(dlg)->title, "Configuration Orvix 9270/9250 Wide Format ");
        EXPECT_TRUE(headless_enabled(dlg, idc_label));
        EXPECT_EQ(headless_text_limit(dlg, idc_label), 64);
        EXPECT_STREQ(headless_text(dlg, idc_label), "AB");
    });
    act({probe(1)});
    EXPECT_EQ(run(main_variant::plot_time), 5); // nobody there: left with "Annuler"
    EXPECT_EQ(outcome().actions_done, 1);
}

TEST_F(MainDialog, KtglRecordGetsRtlAnd400DpiOnThisModel) {
    settings.mode_flags = mode_ktgl | mode_res_300;
    on_probe([&](dialog_handle dlg, int) {
        EXPECT_TRUE(headless_checked(dlg, idc_res_400));
        EXPECT_FALSE(headless_enabled(dlg, idc_res_600));
        EXPECT_FALSE(headless_enabled(dlg, idc_res_300));
        EXPECT_TRUE(headless_checked(dlg, idc_language_rtl));
    });
    act({probe(1), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(settings.mode_flags, mode_res_400);

    // Cancelled, the record keeps what it held.
    settings.mode_flags = mode_ktgl | mode_res_300;
    act({click(idc_cancel)});
    run();
    EXPECT_EQ(settings.mode_flags, mode_ktgl | mode_res_300);
}

TEST_F(MainDialog, WithoutThe600DpiCapability600BecomesFourHundred) {
    runtime.current_model = 1; // the spare model slot: every capability 0
    settings.mode_flags = mode_res_600;
    on_probe([&](dialog_handle dlg, int) {
        EXPECT_TRUE(headless_checked(dlg, idc_res_400));
        EXPECT_FALSE(headless_enabled(dlg, idc_res_600));
        EXPECT_TRUE(headless_enabled(dlg, idc_res_300));
        EXPECT_FALSE(headless_enabled(dlg, idc_media_list));
        EXPECT_FALSE(headless_enabled(dlg, idc_label)); // no label capability either
    });
    act({probe(1), click(idc_ok)});
    EXPECT_EQ(run(main_variant::plot_time), 0);
    EXPECT_EQ(settings.mode_flags & mode_res_mask, mode_res_400);
}

TEST_F(MainDialog, CopiesOutOfRangeAreRefusedWithTheWarning) {
    settings.copies = 4;
    on_probe([&](dialog_handle dlg, int) {
        EXPECT_STREQ(headless_text(dlg, idc_copies), "4");
        int low, high, pos;
        headless_updown(dlg, idc_copies_arrows, &low, &high, &pos);
        EXPECT_EQ(pos, 4);
    });
    act({type(idc_copies, "0"), probe(1), type(idc_copies, "7"), leave(idc_copies), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(outcome().box_count, 1);
    EXPECT_STREQ(outcome().boxes[0].text, "D\xE9"
                                          "finir le nombre de copies dans la plage de 1 \xE0 99.");
    EXPECT_STREQ(outcome().boxes[0].title, "Nombre de copies");
    EXPECT_EQ(outcome().boxes[0].style, exclamation_ok);
    EXPECT_EQ(settings.copies, 7);
    EXPECT_EQ(runtime.job_copies, 7);

    // 100 does not fit the two-character field: the user cannot type it.
    act({type(idc_copies, "100"), click(idc_ok)});
    EXPECT_EQ(run(), 5);
    EXPECT_EQ(outcome().gave_up, 2);
    EXPECT_EQ(outcome().refusal, refusal_kind::too_long);
    EXPECT_EQ(outcome().limit, 2);
    EXPECT_EQ(settings.copies, 7);

    // A user who gives up at the warning leaves the record as it was.
    const auto before = bytes_of(settings);
    act({type(idc_copies, "0"), click(idc_ok)}, script_stop_on_warning);
    EXPECT_EQ(run(), 5);
    EXPECT_EQ(outcome().gave_up, 1);
    EXPECT_EQ(outcome().action, 0);
    EXPECT_EQ(bytes_of(settings), before);
}

TEST_F(MainDialog, EmptyOrNonNumericFieldsWaitForANumber) {
    settings.copies = 4;
    settings.margin_mm = 3;
    act({type(idc_copies, ""), type(idc_copies, "x5"), type(idc_margin, "2m"),
         type(idc_copies, " 6"), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(outcome().box_count, 0);
    EXPECT_EQ(settings.copies, 6); // leading blanks are allowed
    EXPECT_EQ(settings.margin_mm, 3);
}

TEST_F(MainDialog, AnOutOfRangeRecordValueDoesNotWarnForEver) {
    // Refusing 0 copies writes the last accepted value back into the field; when that
    // value is itself out of range, the field must not be read back and refused again.
    settings.copies = 0;
    act({type(idc_copies, "0"), type(idc_copies, "5"), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    // One warning as the field takes the focus (every notification reads it), one for
    // the typed 0.
    EXPECT_EQ(outcome().box_count, 2);
    EXPECT_EQ(settings.copies, 5);
}

TEST_F(MainDialog, MarginArrowsFillTheFieldAndStopAtTheRange) {
    settings.margin_mm = 9;
    on_probe([&](dialog_handle dlg, int) {
        EXPECT_STREQ(headless_text(dlg, idc_margin), "10");
        EXPECT_TRUE(headless_all_selected(dlg, idc_margin));
    });
    act({up(idc_margin_arrows), up(idc_margin_arrows, ua_must_change)});
    run();
    EXPECT_EQ(outcome().gave_up, 2); // the second arrow press is already at 10
    EXPECT_EQ(outcome().refusal, refusal_kind::no_effect);

    act({up(idc_margin_arrows), probe(1), type(idc_margin, "11"), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(outcome().box_count, 1);
    EXPECT_STREQ(outcome().boxes[0].text, "D\xE9"
                                          "finir la marge dans la plage de 0 \xE0 10.");
    EXPECT_STREQ(outcome().boxes[0].title, "D\xE9"
                                           "finir la marge");
    EXPECT_EQ(settings.margin_mm, 10);
}

TEST_F(MainDialog, CustomFormatStartsFromItsDefaultLengthAndCapsIt) {
    on_probe([&](dialog_handle dlg, int n) {
        if (n == 1) { // "Format perso. largeur A0": 1189 mm, up to five digits
            EXPECT_TRUE(headless_enabled(dlg, idc_length));
            EXPECT_TRUE(headless_enabled(dlg, idc_length_label));
            EXPECT_STREQ(headless_text(dlg, idc_length), "1189");
            EXPECT_EQ(headless_text_limit(dlg, idc_length), 5);
        } else if (n == 2) { // refused: back to the last accepted length
            EXPECT_STREQ(headless_text(dlg, idc_length), "1189");
        } else if (n == 3) { // the list taking the focus does not reset the length
            EXPECT_STREQ(headless_text(dlg, idc_length), "3000");
        }
    });
    act({row(idc_format_list, 32), probe(1), type(idc_length, "15001"), probe(2),
         type(idc_length, "3000"), leave(idc_length), command(idc_format_list, cbn_setfocus),
         probe(3), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(outcome().box_count, 1);
    EXPECT_STREQ(outcome().boxes[0].text, "D\xE9"
                                          "finir la longueur \xE0 15000 ou moins.");
    EXPECT_STREQ(outcome().boxes[0].title, "Longueur du format personnalis\xE9");
    EXPECT_EQ(settings.media_format, 33);
    EXPECT_EQ(settings.custom_length_mm, 3000);

    // A fixed format disables the length again.
    on_probe([&](dialog_handle dlg, int) {
        EXPECT_FALSE(headless_enabled(dlg, idc_length));
        EXPECT_FALSE(headless_enabled(dlg, idc_length_label));
    });
    act({row(idc_format_list, 14), probe(1), type(idc_length, "500"), click(idc_ok)});
    EXPECT_EQ(run(), 5);
    EXPECT_EQ(outcome().refusal, refusal_kind::disabled);
    EXPECT_EQ(settings.media_format, 33);
}

TEST_F(MainDialog, LabelTakesPrintableAsciiWhenTheFieldIsLeft) {
    const char* good = "Plan 3-B, rev. (2)! #40 & 50%";
    on_probe([&](dialog_handle dlg, int n) {
        if (n == 1) {
            EXPECT_STREQ(runtime.label_text, good);
        } else {
            EXPECT_STREQ(headless_text(dlg, idc_label), "");
            EXPECT_TRUE(headless_focused(dlg, idc_label));
            EXPECT_STREQ(runtime.label_text, good);
        }
    });
    act({type(idc_label, good), leave(idc_label), probe(1), type(idc_label, "\xC9tage 2"),
         leave(idc_label), probe(2), type(idc_label, "say \"A\""), leave(idc_label), probe(3),
         click(idc_cancel)});
    const auto before = bytes_of(settings);
    EXPECT_EQ(run(main_variant::plot_time), 5);
    ASSERT_EQ(outcome().box_count, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_STREQ(outcome().boxes[i].text,
                     "Entrer un message seulement en caract\xE8res alphanum\xE9riques ASCII.");
        EXPECT_STREQ(outcome().boxes[i].title, "\xC9tiquette");
        EXPECT_EQ(outcome().boxes[i].style, exclamation_ok);
    }
    // The refused label left the field empty and focused; clicking "Annuler" leaves
    // the field, and an empty field empties the label.
    EXPECT_STREQ(runtime.label_text, "");
    EXPECT_EQ(bytes_of(settings), before);

    // The label is no part of the working copy: it stays although the dialog was
    // cancelled.
    act({type(idc_label, good), leave(idc_label), click(idc_cancel)});
    EXPECT_EQ(run(main_variant::plot_time), 5);
    EXPECT_STREQ(runtime.label_text, good);

    // Clicking OK moves the focus off the field, which takes the label; an emptied
    // field empties it.
    act({type(idc_label, "XY"), click(idc_ok)});
    run(main_variant::plot_time);
    EXPECT_STREQ(runtime.label_text, "XY");
    act({type(idc_label, ""), leave(idc_label), click(idc_cancel)});
    run(main_variant::plot_time);
    EXPECT_STREQ(runtime.label_text, "");

    // 65 characters do not fit.
    const std::string long_label(65, 'x');
    act({type(idc_label, long_label.c_str())});
    run(main_variant::plot_time);
    EXPECT_EQ(outcome().refusal, refusal_kind::too_long);
    EXPECT_EQ(outcome().limit, 64);
}

TEST_F(MainDialog, LanguageSwitchRefillsTheMediaListWithTheEntryItOpenedWith) {
    // This model's language radios are disabled, so the commands are sent as another
    // program would.
    settings.media_type = 1;
    on_probe([&](dialog_handle dlg, int n) {
        if (n == 1) {
            EXPECT_EQ(headless_list_count(dlg, idc_media_list), 0); // KTGL names are empty
            EXPECT_TRUE(headless_checked(dlg, idc_res_400));
            EXPECT_FALSE(headless_enabled(dlg, idc_res_600));
            EXPECT_FALSE(headless_enabled(dlg, idc_res_300));
            EXPECT_TRUE(headless_checked(dlg, idc_language_ktgl));
        } else {
            EXPECT_EQ(headless_list_count(dlg, idc_media_list), 4);
            EXPECT_EQ(list_selection(dlg, idc_media_list), 1);
            EXPECT_TRUE(headless_enabled(dlg, idc_res_600));
            EXPECT_TRUE(headless_enabled(dlg, idc_res_300));
            EXPECT_TRUE(headless_checked(dlg, idc_language_rtl));
        }
    });
    act({row(idc_media_list, 3), command(idc_language_ktgl), probe(1), command(idc_language_rtl),
         probe(2), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    // What the list shows is what is stored.
    EXPECT_EQ(settings.media_type, 1);
    EXPECT_EQ(settings.mode_flags & (mode_ktgl | mode_res_mask), mode_res_400);
}

TEST_F(MainDialog, FinisherChoicesReachTheRecordOnlyWithBothOks) {
    const auto before = bytes_of(settings);
    const std::vector<user_action> options = {click(idc_options), row(idc_program_list, 3),
                                              row(idc_bin_list, 5), click(idc_feed_yes),
                                              click(idc_ok)};
    auto with_end = [&](int end) {
        auto s = options;
        s.push_back(click(end));
        return s;
    };
    act(with_end(idc_cancel));
    EXPECT_EQ(run(), 5);
    EXPECT_EQ(bytes_of(settings), before);

    act(with_end(idc_ok));
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(settings.finish_program, 3);
    EXPECT_EQ(settings.finish_bin, 5);
    EXPECT_EQ(settings.finish_margins, 0);
    EXPECT_TRUE(settings.mode_flags & mode_manual_feed);
}

TEST_F(MainDialog, ColourCurveIsPartOfTheWorkingCopy) {
    std::vector<user_action> steps = {click(idc_image_correction)};
    for (int i = 0; i < 7; ++i) steps.push_back(up(idc_gamma));
    steps.push_back(click(idc_curve_ok));

    auto cancelled = steps;
    cancelled.push_back(click(idc_cancel));
    act(cancelled);
    open_installation_dialog();
    const uint8_t defaults[5] = {0, 123, 187, 228, 255};
    EXPECT_EQ(0, std::memcmp(settings.correction_points, defaults, 5));
    // The table follows the record again: the default curve has 103 at input 64.
    EXPECT_EQ(correction.points[2], 187);
    EXPECT_EQ(correction_at(64), 103);

    steps.push_back(click(idc_ok));
    act(steps);
    open_installation_dialog();
    // Seven Gamma steps carry P3 to 256; the byte field stores 255.
    const uint8_t stepped[5] = {0, 151, 222, 255, 255};
    EXPECT_EQ(0, std::memcmp(settings.correction_points, stepped, 5));
    EXPECT_EQ(correction.points[3], 255);
}

TEST_F(MainDialog, DisabledControlsCannotBeUsed) {
    act({click(idc_red_yes), click(idc_ok)});
    EXPECT_EQ(run(), 5);
    EXPECT_EQ(outcome().gave_up, 2);
    EXPECT_EQ(outcome().refusal, refusal_kind::disabled);
    EXPECT_EQ(outcome().control, idc_red_yes);
    EXPECT_EQ(outcome().action, 0);
}

} // namespace
