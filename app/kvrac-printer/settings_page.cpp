// The printer's settings page: the driver's own settings of one printer in a browser.
//
// The page shows the printer's settings record (fill, red pen, finisher, margins, bin,
// manual feed, tone curve, and the media, type and resolution IPP also has) and takes
// changes. A change is never written here: the fields that differ from the record
// become the options of `kvrac config` and are played through the driver's own
// installation dialog in a child process (the configure mode of job_child.h), so the
// driver checks them with its own rules, refuses with its own French warning, and
// saves nothing on a refusal. After a save the printer's IPP defaults are read back
// from the record, so IPP and the record stay in step.
//
// The page is in English or French: the browser's Accept-Language through PAPPL's
// localisation (our strings are added to PAPPL's "fr" strings), or ?lang=en|fr.
// Reading and saving sit behind PAPPL's web security: the administrator password when
// one is set, and the form's session field against forged posts.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "color/correction.h"
#include "host/device_tables.h"
#include "host/settings.h"
#include "kvrac-printer/printer_app.h"
#include "settings/store.h"
#include "system/text.h"

namespace {

// The page's path below the printer's path.
constexpr const char page_subpath[] = "plotter-settings";

// The French page: PAPPL's strings format, English key = French text.
constexpr const char french_strings[] =
    "\"Plotter settings\" = \"Réglages du traceur\";\n"
    "\"The driver's own settings of this plotter, kept in its settings record. A change "
    "is checked by the driver as in its dialogs; nothing is saved when it refuses a "
    "value.\" = \"Les réglages propres au pilote pour ce traceur, gardés dans son "
    "enregistrement de réglages. Une modification est vérifiée par le pilote comme dans "
    "ses dialogues ; rien n'est enregistré s'il refuse une valeur.\";\n"
    "\"Drawing\" = \"Tracé\";\n"
    "\"Fill\" = \"Remplissage\";\n"
    "\"Solid\" = \"Plein\";\n"
    "\"Halftone\" = \"Tramé\";\n"
    "\"Margin (mm, all sides)\" = \"Marge (mm, tous les côtés)\";\n"
    "\"Red pen\" = \"Plume rouge\";\n"
    "\"Red pen number\" = \"Numéro de la plume rouge\";\n"
    "\"Yes\" = \"Oui\";\n"
    "\"No\" = \"Non\";\n"
    "\"not offered by this model\" = \"non proposé par ce modèle\";\n"
    "\"Finisher\" = \"Finition\";\n"
    "\"with a programme only\" = \"avec un programme seulement\";\n"
    "\"Programme\" = \"Programme\";\n"
    "\"Finisher margins\" = \"Marges de finition\";\n"
    "\"Output bin\" = \"Bac de sortie\";\n"
    "\"Manual feed\" = \"Alimentation manuelle\";\n"
    "\"Paper and resolution\" = \"Papier et résolution\";\n"
    "\"Format\" = \"Format\";\n"
    "\"Custom length (mm)\" = \"Longueur personnalisée (mm)\";\n"
    "\"Media type\" = \"Type de support\";\n"
    "\"Resolution\" = \"Résolution\";\n"
    "\"Copies\" = \"Copies\";\n"
    "\"IPP default\" = \"Défaut IPP\";\n"
    "\"each job asks for its own copies (1 to 99)\" = \"chaque travail demande ses propres "
    "copies (1 à 99)\";\n"
    "\"Tone curve\" = \"Courbe de correction\";\n"
    "\"Output at input\" = \"Sortie pour l'entrée\";\n"
    "\"Curve\" = \"Courbe\";\n"
    "\"Default curve\" = \"Courbe par défaut\";\n"
    "\"Handles: the five values\" = \"Poignées : les cinq valeurs\";\n"
    "\"Defaults\" = \"Valeurs par défaut\";\n"
    "\"Reset the curve to its defaults\" = \"Remettre la courbe à ses valeurs par "
    "défaut\";\n"
    "\"Steps (negative: down)\" = \"Pas (négatif : vers le bas)\";\n"
    "\"Saturation\" = \"Saturation\";\n"
    "\"Tint\" = \"Teinte\";\n"
    "\"Gamma\" = \"Gamma\";\n"
    "\"The steps act after the values above, as in the driver's colour dialog.\" = \"Les "
    "pas s'appliquent après les valeurs ci-dessus, comme dans le dialogue de couleur du "
    "pilote.\";\n"
    "\"Save\" = \"Enregistrer\";\n"
    "\"Saved.\" = \"Enregistré.\";\n"
    "\"Nothing changed.\" = \"Rien n'a changé.\";\n"
    "\"Not saved\" = \"Non enregistré\";\n"
    "\"Invalid form submission.\" = \"Envoi de formulaire non valide.\";\n"
    "\"The driver could not save the settings\" = \"Le pilote n'a pas pu enregistrer les "
    "réglages\";\n"
    "\"The settings record cannot be read\" = \"L'enregistrement de réglages est "
    "illisible\";\n"
    // Why the dialog could not do what a field asks (the host's reasons).
    "\"this model does not offer red-pen printing\" = \"ce modèle ne propose pas "
    "l'impression à la plume rouge\";\n"
    "\"this model does not offer media types\" = \"ce modèle ne propose pas de types de "
    "support\";\n"
    "\"this model does not offer manual feed\" = \"ce modèle ne propose pas "
    "l'alimentation manuelle\";\n"
    "\"the length applies only to a custom-length format (Format perso.)\" = \"la longueur "
    "ne s'applique qu'à un format de longueur personnalisée (Format perso.)\";\n"
    "\"600 dpi is not available here\" = \"600 dpi n'est pas disponible ici\";\n"
    "\"the finisher margins and the bin apply only with a programme, not with Plieuse "
    "manuelle\" = \"les marges de finition et le bac ne s'appliquent qu'avec un programme, "
    "pas avec Plieuse manuelle\";\n"
    "\"the dialog refused the step: the curve cannot go further that way\" = \"le dialogue "
    "a refusé le pas : la courbe ne peut pas aller plus loin dans ce sens\";\n"
    "\"the list has no such row here\" = \"la liste n'a pas cette ligne ici\";\n"
    "\"the dialog does not offer this here\" = \"le dialogue ne le propose pas ici\";\n"
    "\"the dialog did not allow it\" = \"le dialogue ne l'a pas permis\";\n";

// The option words of the record's values.
struct record_values {
    std::string fill, red_pen, red_pen_number, program, finisher_margins, bin, manual_feed, margin,
        format, length, media, resolution, curve;
};

const char* yes_no(bool v) {
    return v ? "yes" : "no";
}

int resolution_of(const settings_record& s) {
    return (s.mode_flags & mode_res_600)   ? 600
           : (s.mode_flags & mode_res_400) ? 400
           : (s.mode_flags & mode_res_300) ? 300
           : (s.mode_flags & mode_res_200) ? 200
                                           : 0;
}

record_values values_of(const settings_record& s) {
    record_values v;
    v.fill = s.plot_flags & plot_halftone ? "halftone" : "solid";
    v.red_pen = yes_no(s.mode_flags & mode_red_pen);
    v.red_pen_number = std::to_string(s.red_pen);
    v.program = s.finish_program == 0 ? "manual" : std::to_string(s.finish_program);
    v.finisher_margins = s.finish_margins == 0 ? "program" : "off";
    v.bin = s.finish_bin == 0   ? "any"
            : s.finish_bin == 1 ? "fanfold"
                                : std::to_string(s.finish_bin - 1);
    v.manual_feed = yes_no(s.mode_flags & mode_manual_feed);
    v.margin = std::to_string(s.margin_mm);
    v.format = std::to_string(s.media_format);
    v.length = std::to_string(s.custom_length_mm);
    v.media = std::to_string(s.media_type);
    v.resolution = std::to_string(resolution_of(s));
    for (int k = 0; k < 5; ++k) v.curve += (k ? "," : "") + std::to_string(s.correction_points[k]);
    return v;
}

// The fields that map one to one onto a dialog option, with the record's value.
struct simple_field {
    const char* name;
    const char* option;
    std::string record_values::*value;
};

constexpr simple_field simple_fields[] = {
    {"fill", "--fill", &record_values::fill},
    {"red_pen", "--red-pen", &record_values::red_pen},
    {"red_pen_number", "--red-pen-number", &record_values::red_pen_number},
    {"program", "--program", &record_values::program},
    {"finisher_margins", "--finisher-margins", &record_values::finisher_margins},
    {"bin", "--bin", &record_values::bin},
    {"manual_feed", "--manual-feed", &record_values::manual_feed},
    {"margin", "--margin", &record_values::margin},
    {"format", "--format", &record_values::format},
    {"media", "--media", &record_values::media},
    {"resolution", "--resolution", &record_values::resolution},
};

// Page field of each dialog option, to name a refused value in the page's words.
constexpr struct {
    const char* option;
    const char* label;
} option_labels[] = {
    {"--fill", "Fill"},
    {"--red-pen-number", "Red pen number"},
    {"--red-pen", "Red pen"},
    {"--program", "Programme"},
    {"--finisher-margins", "Finisher margins"},
    {"--bin", "Output bin"},
    {"--manual-feed", "Manual feed"},
    {"--margin", "Margin (mm, all sides)"},
    {"--format", "Format"},
    {"--length", "Custom length (mm)"},
    {"--media", "Media type"},
    {"--resolution", "Resolution"},
    {"--curve-defaults", "Reset the curve to its defaults"},
    {"--curve", "Tone curve"},
    {"--saturation", "Saturation"},
    {"--tint", "Tint"},
    {"--gamma", "Gamma"},
};

std::string trimmed_value(const char* v) {
    std::string s = v ? v : "";
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    size_t from = 0;
    while (from < s.size() && (s[from] == ' ' || s[from] == '\t')) ++from;
    return s.substr(from);
}

// The dialog options ("--name=value", or "--name" for a flag) for the form's fields
// that differ from the record. A field the form leaves out (a disabled control) is
// left as it is.
std::vector<std::string> changed_options(const record_values& now, int num_form,
                                         cups_option_t* form) {
    std::vector<std::string> out;
    auto posted = [&](const char* name, std::string* value) {
        const char* v = cupsGetOption(name, num_form, form);
        if (!v) return false;
        *value = trimmed_value(v);
        return true;
    };
    std::string v;
    for (const simple_field& f : simple_fields)
        if (posted(f.name, &v) && v != now.*f.value) out.push_back(std::string(f.option) + "=" + v);
    // The format resets the length: a custom format takes the field's length with it.
    bool format_changed = posted("format", &v) && v != now.format;
    int row = std::atoi(v.c_str());
    std::string length;
    if (posted("length", &length) &&
        (length != now.length || (format_changed && media_format_row(0, row).custom)))
        out.push_back("--length=" + length);
    if (const char* reset = cupsGetOption("curve_defaults", num_form, form); reset && *reset)
        out.push_back("--curve-defaults");
    std::string curve;
    bool all_points = true;
    for (int k = 0; k < 5; ++k) {
        const std::string name = "p" + std::to_string(k);
        all_points = all_points && posted(name.c_str(), &v);
        curve += (k ? "," : "") + v;
    }
    if (all_points && curve != now.curve) out.push_back("--curve=" + curve);
    for (const char* steps : {"saturation", "tint", "gamma"})
        if (posted(steps, &v) && !v.empty() && v != "0" && v != "+0" && v != "-0")
            out.push_back(std::string("--") + steps + "=" + v);
    return out;
}

// The child's reason in the page's words: "kvrac: --margin 50: TITLE: TEXT" becomes
// "Margin (mm, all sides) (50): TITLE: TEXT" (the driver's warnings are French in both
// languages); a step's "(step 2 of 3)" is left out, and the host's own reasons (why an
// action was not possible) are translated where the page's strings have them.
// "kvrac: --margin takes ..." keeps its words under the field's label.
std::string reason_for_page(pappl_loc_t* loc, std::string why) {
    if (why.rfind("kvrac: ", 0) == 0) why.erase(0, 7);
    for (const auto& o : option_labels) {
        const size_t n = std::strlen(o.option);
        if (why.compare(0, n, o.option) != 0) continue;
        if (why.size() > n && why[n] != ' ' && why[n] != ':') continue;
        const std::string rest = why.substr(n);
        const std::string label = papplLocGetString(loc, o.label);
        const size_t colon = rest.find(": ");
        if (colon == std::string::npos || rest.compare(0, 7, " takes ") == 0) return label + rest;
        std::string value = rest.substr(0, colon);
        if (const size_t step = value.find(" (step "); step != std::string::npos) value.erase(step);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        const std::string message = rest.substr(colon + 2);
        return label + (value.empty() ? "" : " (" + value + ")") + ": " +
               papplLocGetString(loc, message.c_str());
    }
    return why;
}

// ---- the page's HTML ----

struct page_writer {
    pappl_client_t* client;
    pappl_loc_t* loc;

    const char* tr(const char* key) const { return papplLocGetString(loc, key); }
    void puts(const char* s) const { papplClientHTMLPuts(client, s); }
    void text(const std::string& s) const { papplClientHTMLEscape(client, s.c_str(), s.size()); }
    void row_start(const char* label, const char* for_name) const {
        papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">", for_name);
        text(tr(label));
        puts(":</label></th><td>");
    }
    void note(const std::string& s) const {
        puts(" <small class=\"kvrac-note\">");
        text(s);
        puts("</small>");
    }
    void radio_pair(const char* name, const char* value, const char* a, const char* a_label,
                    const char* b, const char* b_label, bool enabled) const {
        for (int i = 0; i < 2; ++i) {
            const char* v = i ? b : a;
            papplClientHTMLPrintf(client,
                                  "<label><input type=\"radio\" name=\"%s\" id=\"%s_%s\" "
                                  "value=\"%s\"%s%s> ",
                                  name, name, v, v, std::strcmp(value, v) == 0 ? " checked" : "",
                                  enabled ? "" : " disabled");
            text(tr(i ? b_label : a_label));
            puts("</label> ");
        }
        if (!enabled) note(tr("not offered by this model"));
    }
    void number(const char* name, const std::string& value, bool enabled, int size = 6) const {
        papplClientHTMLPrintf(client,
                              "<input type=\"text\" inputmode=\"numeric\" name=\"%s\" id=\"%s\" "
                              "size=\"%d\" value=\"",
                              name, name, size);
        text(value);
        puts(enabled ? "\">" : "\" disabled>");
    }
    // A list of (value, shown text) choices.
    void select(const char* name, const std::string& value,
                const std::vector<std::pair<std::string, std::string>>& choices, bool enabled,
                const char* why_disabled = "not offered by this model") const {
        papplClientHTMLPrintf(client, "<select name=\"%s\" id=\"%s\"%s>", name, name,
                              enabled ? "" : " disabled");
        for (const auto& [v, shown] : choices) {
            puts("<option value=\"");
            text(v);
            puts(v == value ? "\" selected>" : "\">");
            text(shown);
            puts("</option>");
        }
        puts("</select>");
        if (!enabled) note(tr(why_disabled));
    }
};

// The tone curve as the driver computes it (the quartic Bezier of the five values,
// truncated to the table's bytes), on a 256 x 256 grid with input to the right and
// output upwards: the default curve dashed, the handles in red.
void put_curve_svg(const page_writer& w, const uint8_t points[5], const uint8_t defaults[5]) {
    auto polyline = [&](const uint8_t p8[5], const char* style) {
        double p[5];
        for (int k = 0; k < 5; ++k) p[k] = p8[k];
        std::string d;
        for (int i = 0; i < 256; ++i) {
            const int y = static_cast<int>(bezier_at(p, i)) & 0xFF;
            d += (i ? " " : "") + std::to_string(i) + "," + std::to_string(255 - y);
        }
        // PAPPL's printf escapes %s arguments: the attributes go out as they are.
        w.puts(("<polyline points=\"" + d + "\" " + style + "/>\n").c_str());
    };
    w.puts("<svg id=\"kvrac-curve\" xmlns=\"http://www.w3.org/2000/svg\" width=\"280\" "
           "height=\"280\" viewBox=\"-12 -12 280 280\" role=\"img\" aria-label=\"");
    w.text(w.tr("Tone curve"));
    w.puts("\">\n<rect x=\"0\" y=\"0\" width=\"255\" height=\"255\" fill=\"#fff\" "
           "stroke=\"#888\"/>\n");
    for (int g = 64; g < 255; g += 64)
        papplClientHTMLPrintf(w.client,
                              "<line x1=\"%d\" y1=\"0\" x2=\"%d\" y2=\"255\" stroke=\"#ddd\"/>"
                              "<line x1=\"0\" y1=\"%d\" x2=\"255\" y2=\"%d\" stroke=\"#ddd\"/>\n",
                              g, g, 255 - g, 255 - g);
    polyline(defaults, "fill=\"none\" stroke=\"#999\" stroke-dasharray=\"4 3\" "
                       "class=\"kvrac-default-curve\"");
    polyline(points, "fill=\"none\" stroke=\"#0040c0\" stroke-width=\"2\" class=\"kvrac-curve\"");
    for (int k = 0; k < 5; ++k)
        papplClientHTMLPrintf(w.client,
                              "<rect class=\"kvrac-handle\" x=\"%d\" y=\"%d\" width=\"6\" "
                              "height=\"6\" fill=\"#d00000\"/>\n",
                              correction_inputs[k] - 3, 255 - points[k] - 3);
    w.puts("</svg>\n");
}

// Writes the whole page. status: a line above the form ("" for none); refused: it
// reports a refusal (shown as a warning).
void put_page(pappl_client_t* client, pappl_printer_t* printer, pappl_loc_t* loc,
              const std::string& lang, const settings_record* s, const std::string& status,
              bool refused) {
    const page_writer w{client, loc};
    // The header sends the response line too.
    papplClientHTMLPrinterHeader(client, printer, w.tr("Plotter settings"), 0, nullptr, nullptr);
    char path[1024];
    papplPrinterGetPath(printer, page_subpath, path, sizeof path);
    // The header has the title; the language switch goes under it.
    papplClientHTMLPrintf(client,
                          "<p class=\"kvrac-lang\"><a href=\"%s?lang=en\" lang=\"en\">English</a> "
                          "&middot; <a href=\"%s?lang=fr\" lang=\"fr\">Fran&ccedil;ais</a></p>\n",
                          path, path);
    w.puts("<style>#kvrac-settings th{text-align:right;padding-right:.5em;vertical-align:top}"
           "#kvrac-settings h2{margin-top:1em}.kvrac-note{color:#666}"
           ".kvrac-curve-box{display:flex;flex-wrap:wrap;gap:1.5em;align-items:flex-start}"
           ".banner.kvrac-refused{background:#fdd;color:#600}#kvrac-save{margin-bottom:3em}</"
           "style>\n");
    if (!status.empty()) {
        papplClientHTMLPrintf(client, "<div class=\"banner%s\" id=\"kvrac-status\" role=\"%s\">",
                              refused ? " kvrac-refused" : "", refused ? "alert" : "status");
        w.text(status);
        w.puts("</div>\n");
    }
    w.puts("<p>");
    w.text(w.tr("The driver's own settings of this plotter, kept in its settings record. A "
                "change is checked by the driver as in its dialogs; nothing is saved when it "
                "refuses a value."));
    w.puts("</p>\n");
    if (!s) {
        papplClientHTMLPrinterFooter(client);
        return;
    }
    const record_values v = values_of(*s);
    papplClientHTMLStartForm(client, path, false);
    papplClientHTMLPrintf(client, "<input type=\"hidden\" name=\"lang\" value=\"%s\">\n",
                          lang.c_str());
    w.puts("<div id=\"kvrac-settings\">\n<h2>");
    w.text(w.tr("Drawing"));
    w.puts("</h2>\n<table class=\"form\"><tbody>\n");
    w.row_start("Fill", "fill_solid");
    w.radio_pair("fill", v.fill.c_str(), "solid", "Solid", "halftone", "Halftone", true);
    w.puts("</td></tr>\n");
    w.row_start("Margin (mm, all sides)", "margin");
    w.number("margin", v.margin, true, 4);
    w.puts("</td></tr>\n");
    const bool red = model_capability(0, cap_red_pen) == 1;
    w.row_start("Red pen", "red_pen_yes");
    w.radio_pair("red_pen", v.red_pen.c_str(), "yes", "Yes", "no", "No", red);
    w.puts("</td></tr>\n");
    w.row_start("Red pen number", "red_pen_number");
    w.number("red_pen_number", v.red_pen_number, red, 4);
    w.puts("</td></tr>\n</tbody></table>\n<h2>");

    w.text(w.tr("Finisher"));
    w.puts("</h2>\n<table class=\"form\"><tbody>\n");
    std::vector<std::pair<std::string, std::string>> choices;
    for (int row = 0; row < program_rows; ++row)
        if (const char* n = finish_program_name(0, row); n[0])
            choices.emplace_back(row == 0 ? "manual" : std::to_string(row), cp1252_trimmed(n));
    const bool finisher = model_capability(0, cap_finisher) == 1;
    w.row_start("Programme", "program");
    w.select("program", v.program, choices, finisher);
    w.puts("</td></tr>\n");
    choices.clear();
    for (int row = 0; row < margin_rows; ++row)
        if (const char* n = finish_margins_name(0, row); n[0])
            choices.emplace_back(row == 0 ? "program" : "off", cp1252_trimmed(n));
    // The margins and the bin follow the programme: the dialog disables them with the
    // manual folder, and so does the page.
    const bool with_program = finisher && v.program != "manual";
    const char* needs_program = finisher ? "with a programme only" : "not offered by this model";
    w.row_start("Finisher margins", "finisher_margins");
    w.select("finisher_margins", v.finisher_margins, choices, with_program, needs_program);
    w.puts("</td></tr>\n");
    choices.clear();
    for (int row = 0; row < bin_rows; ++row)
        if (const char* n = finish_bin_name(0, row); n[0])
            choices.emplace_back(row == 0   ? "any"
                                 : row == 1 ? "fanfold"
                                            : std::to_string(row - 1),
                                 cp1252_trimmed(n));
    w.row_start("Output bin", "bin");
    w.select("bin", v.bin, choices, with_program, needs_program);
    w.puts("</td></tr>\n");
    w.row_start("Manual feed", "manual_feed_yes");
    w.radio_pair("manual_feed", v.manual_feed.c_str(), "yes", "Yes", "no", "No",
                 model_capability(0, cap_manual_feed) == 1);
    w.puts("</td></tr>\n</tbody></table>\n<h2>");

    w.text(w.tr("Paper and resolution"));
    w.puts("</h2>\n<table class=\"form\"><tbody>\n");
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    choices.clear();
    for (int row = 1; row <= format_rows; ++row)
        if (const format_row f = media_format_row(0, row); f.name[0])
            choices.emplace_back(std::to_string(row), cp1252_trimmed(f.name));
    w.row_start("Format", "format");
    w.select("format", v.format, choices, true);
    w.note(std::string(w.tr("IPP default")) + ": " + data.media_default.size_name);
    w.puts("</td></tr>\n");
    w.row_start("Custom length (mm)", "length");
    w.number("length", v.length, true);
    w.puts("</td></tr>\n");
    choices.clear();
    for (int row = 0; row < media_type_rows; ++row)
        if (const char* n = media_type_name(0, row, 0); n[0])
            choices.emplace_back(std::to_string(row), cp1252_trimmed(n));
    w.row_start("Media type", "media");
    w.select("media", v.media, choices, model_capability(0, cap_media_types) == 1);
    w.note(std::string(w.tr("IPP default")) + ": " + data.media_default.type);
    w.puts("</td></tr>\n");
    choices.clear();
    for (int dpi : {600, 400, 300, 200})
        if (dpi != 600 || model_capability(0, cap_600dpi) == 1)
            choices.emplace_back(std::to_string(dpi), std::to_string(dpi) + " dpi");
    w.row_start("Resolution", "resolution");
    w.select("resolution", v.resolution, choices, true);
    w.note(std::string(w.tr("IPP default")) + ": " + std::to_string(data.x_default) + " dpi");
    w.puts("</td></tr>\n");
    // PAPPL keeps copies-default at 1; each job's copies reach the driver with the job.
    int copies_default = 1;
    if (ipp_t* attrs = papplPrinterGetDriverAttributes(printer)) {
        if (ipp_attribute_t* a = ippFindAttribute(attrs, "copies-default", IPP_TAG_INTEGER))
            copies_default = ippGetInteger(a, 0);
        ippDelete(attrs);
    }
    w.row_start("Copies", "copies");
    papplClientHTMLPrintf(client, "<span id=\"copies\">%d</span>", copies_default);
    w.note(std::string(w.tr("IPP default")) + "; " +
           w.tr("each job asks for its own copies (1 to 99)"));
    w.puts("</td></tr>\n</tbody></table>\n<h2>");

    w.text(w.tr("Tone curve"));
    w.puts("</h2>\n<div class=\"kvrac-curve-box\">\n");
    uint8_t defaults[5];
    default_correction_points(defaults);
    w.puts("<div style=\"max-width:280px\">");
    put_curve_svg(w, s->correction_points, defaults);
    w.puts("<p class=\"kvrac-note\"><span style=\"color:#0040c0\">&#9473;</span> ");
    w.text(w.tr("Curve"));
    w.puts(" &middot; <span style=\"color:#999\">&#9476;</span> ");
    w.text(w.tr("Default curve"));
    w.puts(" &middot; <span style=\"color:#d00000\">&#9632;</span> ");
    w.text(w.tr("Handles: the five values"));
    w.puts("</p></div>\n");
    w.puts("<table class=\"form\"><thead><tr><th>");
    w.text(w.tr("Output at input"));
    w.puts("</th><th>");
    w.text(w.tr("Curve"));
    w.puts("</th><th>");
    w.text(w.tr("Defaults"));
    w.puts("</th></tr></thead><tbody>\n");
    for (int k = 0; k < 5; ++k) {
        const std::string name = "p" + std::to_string(k);
        papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">%d</label></th><td>", name.c_str(),
                              correction_inputs[k]);
        w.number(name.c_str(), std::to_string(s->correction_points[k]), true, 4);
        papplClientHTMLPrintf(client, "</td><td class=\"kvrac-default\">%d</td></tr>\n",
                              defaults[k]);
    }
    w.puts("<tr><td colspan=\"3\"><label><input type=\"checkbox\" name=\"curve_defaults\" "
           "id=\"curve_defaults\" value=\"1\"> ");
    w.text(w.tr("Reset the curve to its defaults"));
    w.puts("</label></td></tr>\n<tr><th colspan=\"3\" style=\"text-align:left\">");
    w.text(w.tr("Steps (negative: down)"));
    w.puts("</th></tr>\n");
    for (const char* steps : {"saturation", "tint", "gamma"}) {
        const char* label = steps[0] == 's' ? "Saturation" : steps[0] == 't' ? "Tint" : "Gamma";
        papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">", steps);
        w.text(w.tr(label));
        w.puts("</label></th><td colspan=\"2\">");
        w.number(steps, "0", true, 4);
        w.puts("</td></tr>\n");
    }
    w.puts("</tbody></table>\n</div>\n<p class=\"kvrac-note\">");
    w.text(w.tr("The steps act after the values above, as in the driver's colour dialog."));
    w.puts("</p>\n<p><input type=\"submit\" id=\"kvrac-save\" value=\"");
    w.text(w.tr("Save"));
    w.puts("\"></p>\n</div></form>\n");
    papplClientHTMLPrinterFooter(client);
}

// Reads the printer's record; makes it with the driver's defaults first when the
// printer has none yet. Returns true with *s set. The caller holds record_lock.
bool read_record(pappl_printer_t* printer, settings_record* s) {
    const std::string store = printer_store(printer);
    uint8_t bytes[settings_size];
    if (store_load(store, bytes, settings_size) != 0) {
        std::string why;
        const std::string err = app.spool_dir + "/kvrac-settings-" +
                                std::to_string(papplPrinterGetID(printer)) + ".err";
        run_child({"configure", store}, err, nullptr, &why);
        std::remove(err.c_str());
        if (store_load(store, bytes, settings_size) != 0) return false;
    }
    *s = settings_from_bytes(bytes);
    return true;
}

// The language of the page: ?lang= (or the form's lang field) when it names one PAPPL
// has, else the browser's through PAPPL.
pappl_loc_t* page_language(pappl_client_t* client, const char* asked, std::string* lang) {
    pappl_system_t* system = papplClientGetSystem(client);
    for (const char* l : {"en", "fr"}) {
        if (!asked || std::strcmp(asked, l) != 0) continue;
        if (pappl_loc_t* loc = papplSystemFindLoc(system, l)) {
            *lang = l;
            return loc;
        }
    }
    *lang = "";
    return papplClientGetLoc(client);
}

// The page: GET shows it, POST plays the changed fields through the driver's dialog.
bool settings_page(pappl_client_t* client, void* data) {
    const int id = static_cast<int>(reinterpret_cast<intptr_t>(data));
    pappl_printer_t* printer =
        papplSystemFindPrinter(papplClientGetSystem(client), nullptr, id, nullptr);
    if (!printer) return false; // deleted: PAPPL answers 404
    if (!papplClientHTMLAuthorize(client)) return true;

    // The posted form, or the query string of a GET.
    const bool post = papplClientGetMethod(client) == HTTP_STATE_POST;
    cups_option_t* form = nullptr;
    const int num_form = papplClientGetForm(client, &form);
    std::string lang;
    pappl_loc_t* loc = page_language(client, cupsGetOption("lang", num_form, form), &lang);
    auto tr = [loc](const char* key) { return std::string(papplLocGetString(loc, key)); };

    std::string status;
    bool refused = false;
    settings_record s{};
    bool have = false;
    if (post && (num_form == 0 || !papplClientIsValidForm(client, num_form, form))) {
        status = tr("Invalid form submission.");
        refused = true;
    } else if (post) {
        // The record is read and written under record_lock; the IPP defaults are read
        // back from it after the lock is released (that takes PAPPL's locks).
        std::vector<std::string> options;
        std::string why;
        int rc = 0;
        bool readable;
        {
            std::lock_guard<std::mutex> writing(record_lock);
            readable = read_record(printer, &s);
            if (readable) options = changed_options(values_of(s), num_form, form);
            if (!options.empty()) {
                std::vector<std::string> args = {"configure", printer_store(printer)};
                args.insert(args.end(), options.begin(), options.end());
                const std::string err =
                    app.spool_dir + "/kvrac-settings-" + std::to_string(id) + ".err";
                rc = run_child(args, err, nullptr, &why);
                std::remove(err.c_str());
            }
        }
        if (!readable) {
            status = tr("The settings record cannot be read");
            refused = true;
        } else if (options.empty()) {
            status = tr("Nothing changed.");
        } else {
            if (rc == 0) {
                status = tr("Saved.");
                printer_defaults_from_record(printer);
            } else {
                status =
                    (rc == 2 ? tr("Not saved") : tr("The driver could not save the settings")) +
                    ": " + reason_for_page(loc, why);
                refused = true;
            }
            std::string line;
            for (const std::string& o : options) line += " " + o;
            papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Settings page:%s: %s", line.c_str(),
                            status.c_str());
        }
    }
    cupsFreeOptions(num_form, form);
    {
        std::lock_guard<std::mutex> reading(record_lock);
        have = read_record(printer, &s);
    }
    if (!have && status.empty()) {
        status = tr("The settings record cannot be read");
        refused = true;
    }
    put_page(client, printer, loc, lang, have ? &s : nullptr, status, refused);
    return true;
}

} // namespace

void add_settings_page(pappl_printer_t* printer) {
    pappl_system_t* system = papplPrinterGetSystem(printer);
    // Our French words join PAPPL's French strings (added once, before any page).
    static std::once_flag strings_added;
    std::call_once(strings_added, [system] {
        papplSystemAddStringsData(system, "/kvrac-printer-fr.strings", "fr", french_strings);
    });
    char path[1024];
    papplPrinterGetPath(printer, page_subpath, path, sizeof path);
    papplSystemAddResourceCallback(
        system, path, "text/html", settings_page,
        reinterpret_cast<void*>(static_cast<intptr_t>(papplPrinterGetID(printer))));
    papplPrinterAddLink(
        printer, "Plotter settings", path,
        static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
}
