#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

namespace ferlow {

// Whether the running version may, or must, be updated.
// JSON form: {"s": "available", "v": latest}, {"s": "required", "v": latest}
// or {"s": "ok"}.
struct UpdateStatus {
    enum class Kind { available, required, upToDate };

    Kind kind = Kind::upToDate;
    std::string version; // the latest version; empty for upToDate

    static UpdateStatus available(std::string latest) { return {Kind::available, std::move(latest)}; }
    static UpdateStatus required(std::string latest) { return {Kind::required, std::move(latest)}; }
    static UpdateStatus upToDate() { return {Kind::upToDate, {}}; }

    bool isRequired() const { return kind == Kind::required; }

    bool operator==(const UpdateStatus&) const = default;

    nlohmann::ordered_json encode() const;
    // Reads "v" if present (else ""), then "s" (required); any "s" other than
    // "required" or "available" means upToDate.
    static UpdateStatus decode(const nlohmann::json& json);
};

} // namespace ferlow
