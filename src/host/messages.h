// The French message texts and the settings' journey through the host.
//
// Every text the driver prints comes from the active message table by slot number;
// the table is empty until message 50 copies the built-in texts into it. Texts are in
// the Windows-1252 code page, as the host shows them.
#pragma once

constexpr int message_slots = 86;
constexpr int message_slot_size = 85;

// Copies the built-in table into the active table.
void load_message_texts();

// The active text of a slot ("" before message 50 or for a slot out of range).
const char* message_text(int slot);

// Loads the 40-byte record from the host into `settings`. Returns the host's result
// (0 = loaded). On a nonzero result the record is left as it was; on success fields
// out of range are replaced by their defaults (settings_sanitize).
int load_settings();

// Hands the 40 bytes of `settings` to the host. Returns the host's result (0 = saved).
int save_settings();
