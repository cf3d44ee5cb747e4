// The French message table and the loading and saving of the settings record.
#include "host/messages.h"

#include <cstring>

#include "host/host_services.h"
#include "host/settings.h"

namespace {

struct message_state {
    char active[message_slots][message_slot_size]; // zero until message 50
};

message_state messages;

// The built-in texts (Windows-1252); every other slot is empty.
struct builtin_text {
    int slot;
    const char* text;
};

const builtin_text builtin_texts[] = {
    {0, "Tentative d'appel du dessin \xE0 partir de l'application autre que Auto CAD."},
    {1, "Version Auto CAD invalide. Utiliser R14 ou ult\xE9rieur."},
    {2, "Impossible de r\xE9server l'espace m\xE9moire n\xE9"
        "cessaire pour travailler"},
    {8, "Type de ligne No. 0 = Ligne solide"},
    {9, " = ................................"},
    {10, " = ----    ----    ----    ----    "},
    {11, " = -----   -----   -----   -----   "},
    {12, " = ------. ------. ------. ------. "},
    {13, " = ---- -  ---- -  ---- -  ---- -  "},
    {14, " = --- - - --- - - --- - - --- - - "},
    {15, " = ------ . . ------ . . ------ . ."},
    {25, "Traceur : "},
    {26, "Format support : "},
    {27, "Nombre de copies : "},
    {28, "Port du traceur : "},
    {29, "Parall\xE8le "},
    {33, "S\xE9lectionner les donn\xE9"
         "es g\xE9n\xE9r\xE9"
         "es : KTGL+MMR "},
    {34, "S\xE9lectionner les donn\xE9"
         "es g\xE9n\xE9r\xE9"
         "es : HP-RTL/GL2 "},
    {35, "Remplir un polygone. (Demi-teinte) "},
    {36, "Remplir un polygone. (Aplat) "},
    {49, "R\xE9solution d'image : "},
    {50, "600dpi "},
    {51, "400dpi "},
    {52, "300dpi "},
    {53, "200dpi "},
    {55, "Programme: "},
    {56, "Marge: "},
    {57, "Bac r\xE9"
         "cepteur: "},
    {58, "S\xE9lectionner le type de support : "},
    {70, "R\xE9"
         "ception en manuel "},
    {71, "Aucune r\xE9"
         "ception en manuel "},
    {72, "Impression rouge "},
    {73, "Aucune impression rouge "},
    {75, "\xC9"
         "chec de la sauvegarde des informations de configuration.  "},
    {76, "\xC9"
         "chec d'obtention des informations de configuration. "},
    {77, "Une erreur s'est produite pendant la r\xE9"
         "ception du traceur. "},
};

} // namespace

void load_message_texts() {
    std::memset(messages.active, 0, sizeof messages.active);
    for (const builtin_text& m : builtin_texts) {
        static_assert(sizeof messages.active[0] == message_slot_size);
        std::strncpy(messages.active[m.slot], m.text, message_slot_size - 1);
    }
}

const char* message_text(int slot) {
    if (slot < 0 || slot >= message_slots) return "";
    return messages.active[slot];
}

int load_settings() {
    uint8_t bytes[settings_size];
    int result = host_load_config(settings_size, bytes);
    if (result != 0) return result;
    settings = settings_from_bytes(bytes);
    settings_sanitize(settings);
    return 0;
}

int save_settings() {
    uint8_t bytes[settings_size];
    settings_to_bytes(settings, bytes);
    return host_save_config(settings_size, bytes);
}
