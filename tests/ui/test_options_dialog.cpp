// The finisher options dialog and the about box.
#include "ui/dialog_user.h"

#include "ui/options_dialog.h"

namespace {

using namespace ua;

class OptionsDialog : public DialogUser {
  protected:
    settings_record work{};
    void SetUp() override {
        DialogUser::SetUp();
        work = settings;
    }
    int run() { return run_options_dialog(nullptr, nullptr, options_install_template, &work); }
};

void expect_finisher_rows_enabled(dialog_handle dlg, bool on) {
    for (int id : {idc_fmargin_label, idc_fmargin_list, idc_bin_label, idc_bin_list})
        EXPECT_EQ(headless_enabled(dlg, id), on) << id;
}

TEST_F(OptionsDialog, ListsFollowTheTablesAndTheBypassRule) {
    work.finish_bin = 1;
    on_probe([&](dialog_handle dlg, int n) {
        if (n == 1) {
            auto programs = rows_of(dlg, idc_program_list);
            ASSERT_EQ(programs.size(), 21u);
            EXPECT_EQ(trimmed(programs[0].c_str()), "Plieuse manuelle");
            EXPECT_EQ(trimmed(programs[20].c_str()), "Programme 20");
            auto margins = rows_of(dlg, idc_fmargin_list);
            ASSERT_EQ(margins.size(), 2u);
            EXPECT_EQ(trimmed(margins[1].c_str()), "Toujours d\xE9sactiv\xE9");
            auto bins = rows_of(dlg, idc_bin_list);
            ASSERT_EQ(bins.size(), 15u);
            EXPECT_EQ(trimmed(bins[1].c_str()), "R\xE9"
                                                "c. Pli \xE9ventail");
            EXPECT_EQ(trimmed(bins[14].c_str()), "Bac 13");
            EXPECT_EQ(list_selection(dlg, idc_program_list), 0);
            EXPECT_EQ(list_selection(dlg, idc_bin_list), 1);
            EXPECT_TRUE(headless_checked(dlg, idc_feed_no));
            expect_finisher_rows_enabled(dlg, false); // manual folder: no margin, no bin
        } else if (n == 2) {
            expect_finisher_rows_enabled(dlg, true);
        } else {
            expect_finisher_rows_enabled(dlg, false);
        }
    });
    act({probe(1), row(idc_program_list, 3), probe(2), row(idc_program_list, 0), probe(3),
         click(idc_ok)});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(work.finish_program, 0);
}

TEST_F(OptionsDialog, OkCopiesTheChoicesAndAnnulerDropsThem) {
    const settings_record before = work;
    act({row(idc_program_list, 20), row(idc_fmargin_list, 1), row(idc_bin_list, 14),
         click(idc_feed_yes), click(idc_cancel)});
    EXPECT_EQ(run(), 5);
    EXPECT_EQ(bytes_of(work), bytes_of(before));

    act({row(idc_program_list, 20), row(idc_fmargin_list, 1), row(idc_bin_list, 14),
         click(idc_feed_yes), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(work.finish_program, 20);
    EXPECT_EQ(work.finish_margins, 1);
    EXPECT_EQ(work.finish_bin, 14);
    EXPECT_EQ(work.mode_flags, before.mode_flags | mode_manual_feed);

    act({click(idc_feed_no), click(idc_ok)});
    run();
    EXPECT_EQ(work.mode_flags, before.mode_flags);
}

TEST_F(OptionsDialog, ModelWithoutFinisherOrManualFeed) {
    runtime.current_model = 1; // every capability 0
    work.mode_flags = mode_res_400 | mode_manual_feed;
    on_probe([&](dialog_handle dlg, int) {
        EXPECT_EQ(headless_list_count(dlg, idc_program_list), 0);
        EXPECT_TRUE(headless_enabled(dlg, idc_bin_list));
        for (int id : {idc_feed_group, idc_feed_yes, idc_feed_no})
            EXPECT_FALSE(headless_enabled(dlg, id)) << id;
    });
    act({probe(1), command(idc_feed_no), click(idc_ok)});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(work.mode_flags, mode_res_400 | mode_manual_feed);
}

TEST_F(OptionsDialog, AboutBoxShowsTheIdentification) {
    act({look(idc_about_text), click(idc_ok)});
    EXPECT_EQ(run_about_box(nullptr, nullptr), 0);
    ASSERT_EQ(outcome().look_count, 1);
    EXPECT_STREQ(outcome().looks[0], "Orvix 9270/9250 Wide Format [Ver. 3.0.0] ADI 4.3 ");
    EXPECT_STREQ(about_template.title, "Au sujet du pilote");
    // Left alone it closes with OK: it ignores Escape.
    act({});
    EXPECT_EQ(run_about_box(nullptr, nullptr), 0);
}

TEST(DialogTemplates, InstallationVariantLacksTheLabelAndSitsHigher) {
    EXPECT_EQ(installation_template.control_count, plot_time_template.control_count - 3);
    for (int id : {idc_label_caption, idc_label_hint, idc_label})
        EXPECT_EQ(template_control(installation_template, id), nullptr);
    const control_template* ok = template_control(installation_template, idc_ok);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->y, 219);
    EXPECT_EQ(template_control(installation_template, idc_colour_group)->y, 135);
    EXPECT_EQ(template_control(installation_template, idc_format_list)->y, 31); // above: same
    EXPECT_EQ(installation_template.h, 242);
    EXPECT_STREQ(installation_template.title, "Installation Orvix 9270/9250 Wide Format");
    EXPECT_STREQ(options_plot_template.title,
                 "Configuration Orvix 9270/9250 Wide Format - Options");
    // Control ids are unique within each template.
    for (const dialog_template* t : all_templates)
        for (int i = 0; i < t->control_count; ++i)
            for (int j = i + 1; j < t->control_count; ++j) {
                if (t->controls[i].id != -1) {
                    EXPECT_NE(t->controls[i].id, t->controls[j].id) << t->name;
                }
            }
}

} // namespace
