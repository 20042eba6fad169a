#include "SetupJson.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/Setup.h"

namespace {

std::string number(double value, bool singlePrecision) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char buffer[64];
    // The shortest text that reads back as the same value: 2.9f shows as 2.9, not 2.9000001.
    const auto result =
        singlePrecision ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
                        : std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                    out += escape;
                } else {
                    out += c;  // the text is UTF-8 already
                }
        }
    }
    return out + "\"";
}

void appendStep(std::string& out, const Step& step) {
    out += "{\"on\": " + std::to_string(step.on) + ", \"notes\": [";
    bool first = true;
    for (const std::int32_t offset : step.notes) {
        if (!first) {
            out += ", ";
        }
        first = false;
        out += std::to_string(offset);
    }
    out += "], \"program\": " + std::to_string(step.program) +
           ", \"velocity\": " + std::to_string(step.velocity) +
           ", \"pan\": " + std::to_string(step.pan) +
           ", \"duration\": " + std::to_string(step.duration) + "}";
}

}  // namespace

namespace SetupJson {

std::string format(const SetupRecord& record) {
    std::string out = "{\n";
    auto field = [&out](const char* name, const std::string& value) {
        out += "  \"";
        out += name;
        out += "\": " + value + ",\n";
    };
    field("fileVersion", number(record.fileVersion, true));
    field("tempoEditMode", std::to_string(record.tempoEditMode));
    field("bpm", number(record.bpm, false));
    field("portId", std::to_string(record.portId));
    field("channel", std::to_string(record.channel));
    field("portName", quoted(record.portName.value_or(std::string())));
    field("selectedMeasure", std::to_string(record.selectedMeasure));
    field("mute", std::to_string(record.mute));
    field("baseColor", std::to_string(record.baseColor));
    field("windowLeft", std::to_string(record.windowLeft));
    field("windowTop", std::to_string(record.windowTop));
    field("stepsPerMeasure", std::to_string(record.stepsPerMeasure));
    field("polyphonic", std::to_string(record.polyphonic));
    field("volume", record.volume ? std::to_string(*record.volume) : "null");
    field("transpose", record.transpose ? std::to_string(*record.transpose) : "null");
    out += "  \"measures\": [\n";
    for (std::size_t m = 0; m < record.measures.size(); ++m) {
        const Measure& measure = record.measures[m];
        out += "    {\"next\": " + std::to_string(measure.next) +
               ", \"repeats\": " + std::to_string(measure.repeats) + ", \"steps\": [\n";
        for (std::size_t s = 0; s < measure.steps.size(); ++s) {
            out += "      ";
            appendStep(out, measure.steps[s]);
            out += s + 1 < measure.steps.size() ? ",\n" : "\n";
        }
        out += m + 1 < record.measures.size() ? "    ]},\n" : "    ]}\n";
    }
    out += "  ]\n}\n";
    return out;
}

std::string formatAsRead(const SetupRecord& record) {
    Setup setup;
    record.applyTo(setup);
    return format(
        SetupRecord::fromSetup(setup, record.baseColor, record.windowLeft, record.windowTop));
}

}  // namespace SetupJson
