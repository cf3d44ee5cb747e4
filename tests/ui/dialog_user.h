// Acting as the user of the headless dialogs: short names for the actions, a probe
// that runs a test's lambda inside an open dialog, and a fixture that starts every test
// from the default settings of model 0.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "color/correction.h"
#include "host/settings.h"
#include "platform/headless_dialogs.h"
#include "ui/dialog_templates.h"

namespace ua {

inline user_action click(int id) {
    return {user_act::click, id, 0, 0, 0, 0, 0, nullptr, 0};
}
inline user_action row(int id, int r) {
    return {user_act::select_row, id, r, 0, 0, 0, 0, nullptr, 0};
}
inline user_action type(int id, const char* text) {
    return {user_act::type_text, id, 0, 0, 0, 0, 0, text, 0};
}
inline user_action leave(int id) {
    return {user_act::leave_field, id, 0, 0, 0, 0, 0, nullptr, 0};
}
inline user_action up(int id, unsigned flags = 0) {
    return {user_act::scroll_up, id, 0, 0, 0, 0, 0, nullptr, flags};
}
inline user_action down(int id, unsigned flags = 0) {
    return {user_act::scroll_down, id, 0, 0, 0, 0, 0, nullptr, flags};
}
inline user_action press(int id, int x, int y) {
    return {user_act::mouse_down, id, 0, x, y, 0, 0, nullptr, 0};
}
inline user_action move(int id, int x, int y) {
    return {user_act::mouse_move, id, 0, x, y, 0, 0, nullptr, 0};
}
inline user_action release(int id, int x, int y) {
    return {user_act::mouse_up, id, 0, x, y, 0, 0, nullptr, 0};
}
inline user_action answer(int value) {
    return {user_act::answer, 0, value, 0, 0, 0, 0, nullptr, 0};
}
inline user_action command(int id, int code = bn_clicked) {
    return {user_act::command, id, code, 0, 0, 0, 0, nullptr, 0};
}
inline user_action look(int id) {
    return {user_act::look, id, 0, 0, 0, 0, 0, nullptr, 0};
}
inline user_action probe(int n) {
    return {user_act::probe, 0, n, 0, 0, 0, 0, nullptr, 0};
}

} // namespace ua

// Runs the test's probe lambda when a probe action is played.
inline std::function<void(dialog_handle, int)>& probe_body() {
    static std::function<void(dialog_handle, int)> body;
    return body;
}

inline void run_probe(dialog_handle dlg, int n, void*) {
    if (probe_body()) probe_body()(dlg, n);
}

class DialogUser : public ::testing::Test {
  protected:
    std::vector<user_action> script;
    settings_runtime saved_runtime{};

    void SetUp() override {
        saved_runtime = runtime;
        runtime.current_model = 0;
        runtime.label_text[0] = '\0';
        load_defaults();
        probe_body() = nullptr;
        headless_set_probe(run_probe, nullptr);
    }
    void TearDown() override {
        runtime = saved_runtime;
        probe_body() = nullptr;
        dialog_set_user_actions(nullptr, 0, 0);
    }
    // Hands the script to the next dialog.
    void act(std::vector<user_action> actions, unsigned options = 0) {
        script = std::move(actions);
        dialog_set_user_actions(script.data(), static_cast<int>(script.size()), options);
    }
    void on_probe(std::function<void(dialog_handle, int)> body) { probe_body() = std::move(body); }

    static std::vector<uint8_t> bytes_of(const settings_record& rec) {
        std::vector<uint8_t> b(settings_size);
        settings_to_bytes(rec, b.data());
        return b;
    }
    static const dialog_outcome& outcome() { return dialog_user_outcome(); }
};

// The rows of a list as strings.
inline std::vector<std::string> rows_of(dialog_handle dlg, int id) {
    std::vector<std::string> rows;
    for (int i = 0; i < headless_list_count(dlg, id); ++i)
        rows.emplace_back(headless_list_item(dlg, id, i));
    return rows;
}

// Texts stored blank-padded, trimmed for comparison.
inline std::string trimmed(const char* text) {
    std::string s = text;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}
