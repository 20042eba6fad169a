#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>

#include "SetupFileBuilder.h"
#include "document/SetupJson.h"
#include "document/SetupReader.h"

namespace {

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

SetupRecord read(const SetupFileSpec& spec) {
    return SetupReader::parse(SetupFileBuilder::build(spec), "f");
}

TEST(SetupJson, ListsTheFieldsInOrderWithTheValuesRead) {
    SetupFileSpec spec;
    spec.bpm = 126.5;
    spec.portId = 2;
    spec.channel = 3;
    spec.selectedMeasure = 4;
    spec.left = -8;
    spec.top = 9;
    spec.stepsPerMeasure = 12;
    spec.step = [](int m, int s) {
        StepBytes step;
        step.notes = {m == 1 && s == 2 ? -4 : 0, 7};
        step.program = -1;
        return step;
    };
    const std::string json = SetupJson::formatAsRead(read(spec));
    const char* keys[] = {"fileVersion", "tempoEditMode",   "bpm",        "portId",    "channel",
                          "portName",    "selectedMeasure", "mute",       "baseColor", "windowLeft",
                          "windowTop",   "stepsPerMeasure", "polyphonic", "volume",    "transpose",
                          "measures"};
    std::size_t last = 0;
    for (const char* key : keys) {
        const std::size_t at = json.find("\"" + std::string(key) + "\": ");
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key;
        last = at;
    }
    EXPECT_NE(json.find("\"fileVersion\": 2.9,"), std::string::npos);
    EXPECT_NE(json.find("\"bpm\": 126.5,"), std::string::npos);
    EXPECT_NE(json.find("\"portName\": \"MIDI Mapper\","), std::string::npos);
    EXPECT_NE(json.find("\"baseColor\": 3368601,"), std::string::npos);
    EXPECT_NE(json.find("\"windowLeft\": -8,"), std::string::npos);
    EXPECT_NE(json.find("\"volume\": 90,"), std::string::npos);
    EXPECT_NE(json.find("\"transpose\": -3,"), std::string::npos);
    EXPECT_EQ(count(json, "{\"next\": "), 8u);
    EXPECT_EQ(count(json,
                    "{\"on\": 1, \"notes\": [0, 7], \"program\": -1, \"velocity\": 100, "
                    "\"pan\": 64, \"duration\": 30}"),
              127u);
    EXPECT_EQ(count(json, "\"notes\": [-4, 7]"), 1u);
    EXPECT_NE(json.find("{\"next\": 1, \"repeats\": 1, \"steps\": ["), std::string::npos);
    EXPECT_EQ(json.back(), '\n');
}

TEST(SetupJson, FieldsAnOldFileLacksShowTheNewSetupsValues) {
    SetupFileSpec spec;
    spec.version = 1.9f;
    const std::string json = SetupJson::formatAsRead(read(spec));
    EXPECT_NE(json.find("\"portName\": \"\","), std::string::npos);
    EXPECT_NE(json.find("\"volume\": 80,"), std::string::npos);
    EXPECT_NE(json.find("\"transpose\": 0,"), std::string::npos);
    EXPECT_NE(json.find("\"fileVersion\": 1.9,"), std::string::npos);
    EXPECT_NE(json.find("\"stepsPerMeasure\": 16,"), std::string::npos);
}

TEST(SetupJson, NumbersThatAreNotFiniteBecomeNull) {
    SetupFileSpec spec;
    spec.bpm = std::numeric_limits<double>::infinity();
    spec.version = std::numeric_limits<float>::quiet_NaN();
    const std::string json = SetupJson::formatAsRead(read(spec));
    EXPECT_NE(json.find("\"bpm\": null,"), std::string::npos);
    EXPECT_NE(json.find("\"fileVersion\": null,"), std::string::npos);
}

TEST(SetupJson, PortNamesAreEscaped) {
    SetupFileSpec spec;
    spec.portName = SetupFileSpec::counted(std::string("a\"b\\c\nd\x01", 8) + "\xC3\xA9");
    const std::string json = SetupJson::formatAsRead(read(spec));
    EXPECT_NE(json.find("\"portName\": \"a\\\"b\\\\c\\nd\\u0001\xC3\xA9\","), std::string::npos)
        << json.substr(0, 200);
}

}  // namespace
