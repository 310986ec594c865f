// A check of JSON documents against the part of JSON Schema that the
// project's schemas use: type (one or a list), enum, properties, required,
// additionalProperties (false or a schema), items, minItems, maxItems, minimum.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace jsonSchemaCheck {

inline bool hasType(const nlohmann::json& value, const std::string& type) {
    if (type == "object") return value.is_object();
    if (type == "array") return value.is_array();
    if (type == "string") return value.is_string();
    if (type == "integer") return value.is_number_integer();
    if (type == "number") return value.is_number();
    if (type == "boolean") return value.is_boolean();
    if (type == "null") return value.is_null();
    return false;
}

// Appends a line per violation, naming the place in the document.
inline void check(const nlohmann::json& schema, const nlohmann::json& value, const std::string& where,
                  std::vector<std::string>& problems) {
    if (schema.contains("type")) {
        std::vector<std::string> types;
        if (schema["type"].is_array())
            for (const auto& t : schema["type"]) types.push_back(t.get<std::string>());
        else
            types.push_back(schema["type"].get<std::string>());
        bool any = false;
        for (const std::string& t : types) any = any || hasType(value, t);
        if (!any) {
            problems.push_back(where + ": not of type " + schema["type"].dump());
            return;
        }
    }
    if (schema.contains("enum")) {
        bool found = false;
        for (const auto& e : schema["enum"]) found = found || e == value;
        if (!found) problems.push_back(where + ": " + value.dump() + " not in " + schema["enum"].dump());
    }
    if (schema.contains("minimum") && value.is_number() && value.get<double>() < schema["minimum"].get<double>())
        problems.push_back(where + ": below the minimum");
    if (value.is_object()) {
        if (schema.contains("required"))
            for (const auto& key : schema["required"])
                if (!value.contains(key.get<std::string>()))
                    problems.push_back(where + ": lacks " + key.get<std::string>());
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (schema.contains("properties") && schema["properties"].contains(it.key())) {
                check(schema["properties"][it.key()], it.value(), where + "." + it.key(), problems);
            } else if (schema.contains("additionalProperties")) {
                const auto& extra = schema["additionalProperties"];
                if (extra.is_boolean() && !extra.get<bool>())
                    problems.push_back(where + ": unexpected " + it.key());
                else if (extra.is_object())
                    check(extra, it.value(), where + "." + it.key(), problems);
            } else if (schema.contains("properties")) {
                problems.push_back(where + ": property " + it.key() + " not in the schema");
            }
        }
    }
    if (value.is_array()) {
        if (schema.contains("minItems") && value.size() < schema["minItems"].get<size_t>())
            problems.push_back(where + ": too few items");
        if (schema.contains("maxItems") && value.size() > schema["maxItems"].get<size_t>())
            problems.push_back(where + ": too many items");
        if (schema.contains("items"))
            for (size_t i = 0; i < value.size(); ++i)
                check(schema["items"], value[i], where + "[" + std::to_string(i) + "]", problems);
    }
}

}  // namespace jsonSchemaCheck
