#include "device/samples/raw_data.h"

#include <cmath>
#include <limits>

#include "common/utf8.h"

namespace brisel::device {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
using Result = tl::expected<T, std::string>;

// A JSON integer in the range of int64, or a whole float of magnitude at most 2^53.
Result<std::int64_t> integerFrom(const Json& value, const std::string& path) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return tl::unexpected(path + ": integer out of range");
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        constexpr double largestExact = 9007199254740992.0;  // 2^53
        if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) <= largestExact) {
            return static_cast<std::int64_t>(number);
        }
        return tl::unexpected(path + ": not a whole number");
    }
    return tl::unexpected(path + ": expected an integer");
}

Result<double> doubleFrom(const Json& value, const std::string& path) {
    if (!value.is_number()) {
        return tl::unexpected(path + ": expected a number");
    }
    const double number = value.get<double>();
    if (!std::isfinite(number)) {
        return tl::unexpected(path + ": number out of range");
    }
    return number;
}

Result<float> floatFrom(const Json& value, const std::string& path) {
    auto number = doubleFrom(value, path);
    if (!number) {
        return tl::unexpected(number.error());
    }
    if (std::fabs(*number) > static_cast<double>(std::numeric_limits<float>::max())) {
        return tl::unexpected(path + ": number does not fit a float");
    }
    return static_cast<float>(*number);
}

Result<std::optional<std::map<common::SensorKind, double>>> decodeSensorOdrs(const Json& value) {
    const std::string path = "_sensor_odrs";
    if (value.is_null()) {
        return std::optional<std::map<common::SensorKind, double>>{};
    }
    if (!value.is_array() || value.size() % 2 != 0) {
        return tl::unexpected(path + ": expected null or an array of alternating keys and values");
    }
    std::map<common::SensorKind, double> rates;
    for (std::size_t i = 0; i < value.size(); i += 2) {
        const std::string itemPath = path + "[" + std::to_string(i) + "]";
        if (!value[i].is_string()) {
            return tl::unexpected(itemPath + ": expected a sensor kind");
        }
        const auto kind = common::fromRawValue<common::SensorKind>(value[i].get_ref<const std::string&>());
        if (!kind) {
            return tl::unexpected(itemPath + ": unknown sensor kind");
        }
        auto rate = doubleFrom(value[i + 1], path + "[" + std::to_string(i + 1) + "]");
        if (!rate) {
            return tl::unexpected(rate.error());
        }
        if (!rates.emplace(*kind, *rate).second) {
            return tl::unexpected(itemPath + ": repeated key");
        }
    }
    return rates;
}

Result<PacketIndexTable> decodePacketIndices(const Json& value) {
    const std::string path = "packet_indices";
    if (!value.is_array() || value.size() % 2 != 0) {
        return tl::unexpected(path + ": expected an array of alternating keys and values");
    }
    PacketIndexTable table;
    for (std::size_t i = 0; i < value.size(); i += 2) {
        const std::string keyPath = path + "[" + std::to_string(i) + "]";
        auto key = integerFrom(value[i], keyPath);
        if (!key) {
            return tl::unexpected(key.error());
        }
        const std::string valuePath = path + "[" + std::to_string(i + 1) + "]";
        const Json& entry = value[i + 1];
        if (!entry.is_object()) {
            return tl::unexpected(valuePath + ": expected an object");
        }
        std::map<std::string, std::int64_t> indices;
        for (const auto& [name, index] : entry.items()) {
            auto number = integerFrom(index, valuePath + "." + name);
            if (!number) {
                return tl::unexpected(number.error());
            }
            indices.emplace(name, *number);
        }
        if (!table.emplace(*key, std::move(indices)).second) {
            return tl::unexpected(keyPath + ": repeated key");
        }
    }
    return table;
}

Result<std::map<std::string, std::vector<std::vector<float>>>> decodeSensorData(const Json& value) {
    const std::string path = "sensor_data";
    if (!value.is_object()) {
        return tl::unexpected(path + ": expected an object");
    }
    std::map<std::string, std::vector<std::vector<float>>> data;
    for (const auto& [name, rows] : value.items()) {
        const std::string rowsPath = path + "." + name;
        if (!rows.is_array()) {
            return tl::unexpected(rowsPath + ": expected an array of arrays");
        }
        std::vector<std::vector<float>> decodedRows;
        decodedRows.reserve(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::string rowPath = rowsPath + "[" + std::to_string(r) + "]";
            if (!rows[r].is_array()) {
                return tl::unexpected(rowPath + ": expected an array");
            }
            std::vector<float> row;
            row.reserve(rows[r].size());
            for (std::size_t c = 0; c < rows[r].size(); ++c) {
                auto number = floatFrom(rows[r][c], rowPath + "[" + std::to_string(c) + "]");
                if (!number) {
                    return tl::unexpected(number.error());
                }
                row.push_back(*number);
            }
            decodedRows.push_back(std::move(row));
        }
        data.emplace(name, std::move(decodedRows));
    }
    return data;
}

}  // namespace

std::string_view rawDataKeyText(RawDataKey key) {
    switch (key) {
        case RawDataKey::sensorData:
            return "sensor_data";
        case RawDataKey::packetIndices:
            return "packet_indices";
        case RawDataKey::sensorOdrs:
            return "_sensor_odrs";
    }
    return "";
}

std::optional<RawDataKey> rawDataKeyFromText(std::string_view text) {
    for (RawDataKey key : {RawDataKey::sensorData, RawDataKey::packetIndices, RawDataKey::sensorOdrs}) {
        if (rawDataKeyText(key) == text) {
            return key;
        }
    }
    return std::nullopt;
}

tl::expected<nlohmann::ordered_json, std::string> RawData::encode() const {
    Json json = Json::object();
    if (sensorOdrs) {
        Json rates = Json::array();
        for (const auto& [kind, rate] : *sensorOdrs) {
            if (!std::isfinite(rate)) {
                return tl::unexpected("_sensor_odrs: rate of " + std::string(common::rawValue(kind)) +
                                      " is not a finite number");
            }
            rates.push_back(common::rawValue(kind));
            rates.push_back(rate);
        }
        json["_sensor_odrs"] = std::move(rates);
    } else {
        json["_sensor_odrs"] = nullptr;
    }

    Json indices = Json::array();
    for (const auto& [key, entry] : packetIndices) {
        Json names = Json::object();
        for (const auto& [name, index] : entry) {
            if (!common::isValidUtf8(name)) {
                return tl::unexpected(std::string("packet_indices: a name is not valid UTF-8"));
            }
            names[name] = index;
        }
        indices.push_back(key);
        indices.push_back(std::move(names));
    }
    json["packet_indices"] = std::move(indices);

    Json data = Json::object();
    for (const auto& [name, rows] : sensorData) {
        if (!common::isValidUtf8(name)) {
            return tl::unexpected(std::string("sensor_data: a name is not valid UTF-8"));
        }
        Json encodedRows = Json::array();
        for (const auto& row : rows) {
            Json encodedRow = Json::array();
            for (float value : row) {
                if (!std::isfinite(value)) {
                    return tl::unexpected("sensor_data." + name + ": a value is not a finite number");
                }
                encodedRow.push_back(value);
            }
            encodedRows.push_back(std::move(encodedRow));
        }
        data[name] = std::move(encodedRows);
    }
    json["sensor_data"] = std::move(data);
    return json;
}

tl::expected<RawData, std::string> RawData::decode(const nlohmann::ordered_json& json) {
    if (!json.is_object()) {
        return tl::unexpected(std::string("expected an object"));
    }
    for (const auto& item : json.items()) {
        if (!rawDataKeyFromText(item.key())) {
            return tl::unexpected(item.key() + ": unknown key");
        }
    }
    RawData record;
    for (RawDataKey key : {RawDataKey::sensorOdrs, RawDataKey::packetIndices, RawDataKey::sensorData}) {
        if (!json.contains(rawDataKeyText(key))) {
            return tl::unexpected(std::string(rawDataKeyText(key)) + ": missing key");
        }
    }
    auto rates = decodeSensorOdrs(json.at("_sensor_odrs"));
    if (!rates) {
        return tl::unexpected(rates.error());
    }
    record.sensorOdrs = std::move(*rates);
    auto indices = decodePacketIndices(json.at("packet_indices"));
    if (!indices) {
        return tl::unexpected(indices.error());
    }
    record.packetIndices = std::move(*indices);
    auto data = decodeSensorData(json.at("sensor_data"));
    if (!data) {
        return tl::unexpected(data.error());
    }
    record.sensorData = std::move(*data);
    return record;
}

}  // namespace brisel::device
