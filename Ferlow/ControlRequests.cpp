#include "Ferlow/ControlRequests.h"

#include "Ferlow/AppModel.h"
#include "Ferlow/PhoneList.h"

namespace ferlow {

ControlRequests::Answer ControlRequests::answer(const nlohmann::json& request)
{
    const auto field = [&](const char* key) {
        const auto found = request.find(key);
        return found != request.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    const auto failure = [](const std::string& message) {
        return Answer {{{"ok", false}, {"error", message}}, {}};
    };
    const auto success = [](nlohmann::json reply) {
        reply["ok"] = true;
        return Answer {std::move(reply), {}};
    };
    // A pairing's URL for where phones find this computer now, and the
    // notice that goes with an address.
    const auto located = [this](nlohmann::json reply, std::string url) {
        reply["url"] = std::move(url);
        if (!m_model.localHost().published)
            reply["notice"] = AppModel::addressNotice;
        return reply;
    };
    const std::string operation = field("do");

    if (operation == "pair") {
        const auto offer = m_model.addPhone();
        if (!offer)
            return failure("cannot make a pairing code for the host name \u201C" + m_model.localHost().host + "\u201D");
        return success(located({{"id", offer->pairing.id}}, offer->url));
    }
    if (operation == "pairing") {
        const auto pairing = m_model.store().lookup(field("id"));
        if (!pairing)
            return success({{"state", "gone"}});
        if (pairing->pending())
            return success(located({{"state", "pending"}}, m_model.pairingURL(*pairing).value_or("")));
        return success({{"state", "used"}, {"name", pairing->name}});
    }
    if (operation == "list") {
        m_model.refresh();
        return success({{"phones", PhoneList::encode(m_model.pairings(), m_model.connectedDevice().has_value())}});
    }
    if (operation == "forget") {
        const auto found = PhoneList::find(m_model.store().all(), field("phone"));
        if (const auto* problem = std::get_if<std::string>(&found))
            return failure(*problem);
        const auto& pairing = std::get<Pairing>(found);
        m_model.remove(pairing);
        return success({{"name", pairing.name}});
    }
    if (operation == "agree-terms") {
        m_actions.agree();
        if (const auto& error = m_model.serverError())
            return failure(*error);
        return success(nlohmann::json::object());
    }
    if (operation == "uninstall") {
        const auto steps = m_model.uninstall();
        auto answer = success({{"steps", steps}});
        answer.afterReply = m_actions.quit;
        return answer;
    }
    if (operation == "show") {
        if (!m_actions.show)
            return failure("Ferlow is already running, without a window (ferlow --headless)");
        m_actions.show();
        return success(nlohmann::json::object());
    }
    return failure("unknown request \u201C" + operation + "\u201D");
}

} // namespace ferlow
