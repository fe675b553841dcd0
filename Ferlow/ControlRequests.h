#pragma once

#include <functional>

#include <nlohmann/json.hpp>

namespace ferlow {

class AppModel;

// What the other `ferlow` commands (--pair, --list, --forget, --agree-terms,
// --uninstall) ask of the running one over its ControlChannel, answered the
// same way by the tray and by `ferlow --headless`. Runs on the main
// context, where the model lives.
class ControlRequests final {
public:
    // Where the two front ends differ.
    struct Actions {
        // Records agreement to the terms and goes on with a start that
        // waited for it, with whatever the front end shows for it.
        std::function<void()> agree;
        // Ends the app once the reply to an uninstall has gone.
        std::function<void()> quit;
    };

    struct Answer {
        nlohmann::json reply;
        std::function<void()> afterReply; // empty unless the app is to end
    };

    using Respond = std::function<void(Answer)>;

    ControlRequests(AppModel& model, Actions actions) : m_model(model), m_actions(std::move(actions)) { }

    // Calls `respond` once, on the main context: at once, or when what was
    // asked has happened (a server started after an agreement, an uninstall).
    void answer(const nlohmann::json& request, Respond respond);

private:
    AppModel& m_model;
    Actions m_actions;
};

} // namespace ferlow
