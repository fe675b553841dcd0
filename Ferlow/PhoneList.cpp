#include "Ferlow/PhoneList.h"

#include <algorithm>

#include "Ferlow/Console.h"

namespace ferlow {

nlohmann::json PhoneList::encode(const std::vector<Pairing>& used, bool firstConnected)
{
    auto phones = nlohmann::json::array();
    for (const auto& pairing : used) {
        phones.push_back({{"id", pairing.id}, {"name", pairing.name}, {"lastUsedAt", pairing.lastUsedAt.value_or(0)},
            {"connected", firstConnected && phones.empty()}});
    }
    return phones;
}

std::vector<std::string> PhoneList::lines(const nlohmann::json& phones, double now)
{
    std::vector<std::string> lines;
    if (!phones.is_array())
        return lines;
    for (const auto& phone : phones) {
        if (!phone.is_object())
            continue;
        const auto name = phone.value("name", std::string());
        const auto id = phone.value("id", std::string());
        const auto caption = phone.value("connected", false)
            ? std::string("Connected")
            : Console::lastUsed(phone.value("lastUsedAt", 0.0), now);
        lines.push_back(name + "  " + caption + "  (id " + id + ")");
    }
    return lines;
}

std::variant<Pairing, std::string> PhoneList::find(const std::vector<Pairing>& all, const std::string& who)
{
    for (const auto& pairing : all)
        if (pairing.id == who)
            return pairing;
    std::vector<Pairing> named;
    std::copy_if(all.begin(), all.end(), std::back_inserter(named), [&](const Pairing& p) { return p.name == who; });
    if (named.size() == 1)
        return named.front();
    if (named.empty())
        return "no paired phone is called \u201C" + who + "\u201D (ferlow --list shows them)";
    return std::to_string(named.size()) + " phones are called \u201C" + who
        + "\u201D: forget one by its id (ferlow --list shows them)";
}

std::vector<Pairing> PhoneList::used(std::vector<Pairing> all)
{
    std::erase_if(all, [](const Pairing& pairing) { return pairing.pending(); });
    std::stable_sort(all.begin(), all.end(), [](const Pairing& a, const Pairing& b) { return *a.lastUsedAt > *b.lastUsedAt; });
    return all;
}

} // namespace ferlow
