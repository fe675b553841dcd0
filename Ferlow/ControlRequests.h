#pragma once

#include <functional>

#include <nlohmann/json.hpp>

namespace ferlow {

class AppModel;

// What the other `ferlow` commands (--pair, --list, --forget, --agree-terms,
// --uninstall, a second tray app) ask of the running one over its
// ControlChannel, answered the same way by the tray and by `ferlow
// --headless`. Runs on the main context, where the model lives.
class ControlRequests final {
public:
    // Where the two front ends differ.
    struct Actions {
        // Records agreement to the terms and goes on with a start that
        // waited for it, with whatever the front end shows for it.
        std::function<void()> agree;
        // Ends the app once the reply to an uninstall has gone.
        std::function<void()> quit;
        // Opens the status window (a second launch of the tray app); empty
        // where there is none to open.
        std::function<void()> show;
    };

    struct Answer {
        nlohmann::json reply;
        std::function<void()> afterReply; // empty unless the app is to end
    };

    using Respond = std::function<void(Answer answer)>;

    ControlRequests(AppModel& model, Actions actions) : m_model(model), m_actions(std::move(actions)) { }

    // Hands the answer to `respond` once, on the main context: at once, or
    // once what the answer depends on has happened (a forgotten phone is off
    // the disk and has been told, a server started after an agreement, an
    // uninstall). A change that could not be saved is answered as a failure,
    // "couldn't save: <why>".
    void answer(const nlohmann::json& request, Respond respond);

private:
    AppModel& m_model;
    Actions m_actions;
};

} // namespace ferlow
