#include "SetupWriter.h"

#include "ByteWriter.h"
#include "SafeFileWriter.h"

std::vector<std::uint8_t> SetupWriter::serialize(const SetupRecord& record) {
    ByteWriter out;
    out.writeFloat32(kVersion);
    out.writeInt16(record.tempoEditMode);
    out.writeFloat64(record.bpm);
    out.writeInt32(record.portId);
    out.writeInt16(record.channel);
    out.writeInt16(record.selectedMeasure);
    out.writeInt32(record.mute);
    out.writeInt32(record.baseColor);
    for (const Measure& measure : record.measures) {
        out.writeInt16(measure.next);
        out.writeInt16(measure.repeats);
        for (const Step& step : measure.steps) {
            writeStep(out, step);
        }
    }
    out.writeInt32(record.windowLeft);
    out.writeInt32(record.windowTop);
    out.writeInt32(record.stepsPerMeasure);
    out.writeInt32(record.polyphonic);
    out.writeInt16(record.volume.value_or(80));
    out.writeInt16(record.transpose.value_or(0));
    out.writeCountedString(record.portName.value_or(std::string()));
    return out.takeBytes();
}

void SetupWriter::writeStep(ByteWriter& out, const Step& step) {
    out.writeInt32(static_cast<std::int32_t>(step.notes.size()));
    for (const std::int32_t offset : step.notes) {
        out.writeInt32(offset);
    }
    out.writeInt16(step.program);
    out.writeInt16(step.velocity);
    out.writeInt16(step.pan);
    out.writeInt16(step.duration);
    // The on/off flag comes last, after the four values.
    out.writeInt16(step.on);
}

void SetupWriter::writeFile(const std::string& path, const SetupRecord& record) {
    const std::vector<std::uint8_t> bytes = serialize(record);
    SafeFileWriter file(path);
    file.write(bytes);
    file.commit();
}
