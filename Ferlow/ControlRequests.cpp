#include "Ferlow/ControlRequests.h"

#include "Ferlow/AppModel.h"
#include "Ferlow/PhoneList.h"

namespace ferlow {

namespace {

ControlRequests::Answer failure(const std::string& message)
{
    return {{{"ok", false}, {"error", message}}, {}};
}

ControlRequests::Answer success(nlohmann::json reply)
{
    reply["ok"] = true;
    return {std::move(reply), {}};
}

} // namespace

void ControlRequests::answer(const nlohmann::json& request, Respond respond)
{
    const auto field = [&](const char* key) {
        const auto found = request.find(key);
        return found != request.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    const std::string operation = field("do");

    if (operation == "pair") {
        const auto offer = m_model.addPhone();
        if (!offer)
            return respond(failure("cannot make a pairing code for the host name \u201C" + m_model.localHostName() + "\u201D"));
        return respond(success({{"url", offer->url}, {"id", offer->pairing.id}}));
    }
    if (operation == "pairing") {
        const auto pairing = m_model.store().lookup(field("id"));
        if (!pairing)
            return respond(success({{"state", "gone"}}));
        if (pairing->pending())
            return respond(success({{"state", "pending"}}));
        return respond(success({{"state", "used"}, {"name", pairing->name}}));
    }
    if (operation == "list") {
        m_model.refresh();
        return respond(success({{"phones", PhoneList::encode(m_model.pairings(), m_model.connectedDevice().has_value())}}));
    }
    if (operation == "forget") {
        const auto found = PhoneList::find(m_model.store().all(), field("phone"));
        if (const auto* problem = std::get_if<std::string>(&found))
            return respond(failure(*problem));
        const auto& pairing = std::get<Pairing>(found);
        m_model.remove(pairing);
        return respond(success({{"name", pairing.name}}));
    }
    if (operation == "agree-terms") {
        m_actions.agree();
        // The answer says whether the server that waited for it now listens.
        return m_model.whenServerSettled([&model = m_model, respond = std::move(respond)] {
            const auto& error = model.serverError();
            respond(error ? failure(*error) : success(nlohmann::json::object()));
        });
    }
    if (operation == "uninstall") {
        return m_model.uninstall([respond = std::move(respond), quit = m_actions.quit](std::vector<std::string> steps) {
            auto answer = success({{"steps", std::move(steps)}});
            answer.afterReply = quit;
            respond(std::move(answer));
        });
    }
    respond(failure("unknown request \u201C" + operation + "\u201D"));
}

} // namespace ferlow
