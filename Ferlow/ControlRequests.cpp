#include "Ferlow/ControlRequests.h"

#include "Ferlow/AppModel.h"
#include "Ferlow/PhoneList.h"

namespace ferlow {

namespace {

ControlRequests::Answer failure(const std::string& message) { return {{{"ok", false}, {"error", message}}, {}}; }

ControlRequests::Answer notSaved(const std::string& problem) { return failure("couldn't save: " + problem); }

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
            return respond(
                failure("cannot make a pairing code for the host name \u201C" + m_model.localHost().host + "\u201D"));
        return respond(success(located({{"id", offer->pairing.id}}, offer->url)));
    }
    if (operation == "pairing") {
        // "used" only once the use is on disk.
        return m_model.lookupSaved(field("id"),
            [this, respond, located](const std::optional<Pairing>& pairing, const std::optional<std::string>& problem) {
                if (!pairing)
                    return respond(success({{"state", "gone"}}));
                if (pairing->pending())
                    return respond(success(located({{"state", "pending"}}, m_model.pairingURL(*pairing).value_or(""))));
                if (problem)
                    return respond(notSaved(*problem));
                respond(success({{"state", "used"}, {"name", pairing->name}}));
            });
    }
    if (operation == "list") {
        m_model.refresh();
        const bool connected = m_model.connectedDevice().has_value();
        return respond(success({{"phones", PhoneList::encode(m_model.pairings(), connected)}}));
    }
    if (operation == "forget") {
        const auto found = PhoneList::find(m_model.store().all(), field("phone"));
        if (const auto* problem = std::get_if<std::string>(&found))
            return respond(failure(*problem));
        const auto& pairing = std::get<Pairing>(found);
        return m_model.remove(pairing, [respond, name = pairing.name](const std::optional<std::string>& problem) {
            respond(problem ? notSaved(*problem) : success({{"name", name}}));
        });
    }
    if (operation == "agree-terms") {
        m_actions.agree();
        // The answer says whether the agreement was saved and whether the
        // server that waited for it now listens.
        return m_model.whenServerSettled([&model = m_model, respond = std::move(respond)] {
            if (const auto& error = model.serverError())
                return respond(failure(*error));
            if (const auto problem = model.settings().saveProblem())
                return respond(notSaved(*problem));
            respond(success(nlohmann::json::object()));
        });
    }
    if (operation == "uninstall") {
        return m_model.uninstall([respond = std::move(respond), quit = m_actions.quit](std::vector<std::string> steps) {
            auto answer = success({{"steps", std::move(steps)}});
            answer.afterReply = quit;
            respond(std::move(answer));
        });
    }
    if (operation == "show") {
        if (!m_actions.show)
            return respond(failure("Ferlow is already running, without a window (ferlow --headless)"));
        m_actions.show();
        return respond(success(nlohmann::json::object()));
    }
    respond(failure("unknown request \u201C" + operation + "\u201D"));
}

} // namespace ferlow
