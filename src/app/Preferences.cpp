#include "Preferences.h"

#include <QSettings>
#include <QStandardPaths>

#include "core/Player.h"
#include "core/Setup.h"
#include "midi/StepClock.h"

namespace {

QString keyOf(const char* key) {
    return QString::fromLatin1(Preferences::kGroup) + QLatin1Char('/') + QString::fromLatin1(key);
}

QString highResTimerKey() {
    return QString::fromLatin1(Preferences::kGroup) + QLatin1Char('/') +
           QString::fromLatin1(Preferences::kHighResTimerKey);
}

}  // namespace

Preferences::Preferences(Setup& setup, StepClock& clock, Player& player)
    : setup_(setup), clock_(clock), player_(player) {}

QString Preferences::filePath() {
    // Asked afresh on every use, so that a changed XDG_CONFIG_HOME (tests) is honoured.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Glimmerstave/Glimmerstave.ini");
}

void Preferences::loadPreferences() {
    const QSettings settings(filePath(), QSettings::IniFormat);
    const QVariant stored = settings.value(highResTimerKey());
    // Compared exactly: "Off" or "0" leave the option on.
    const bool off =
        stored.typeId() == QMetaType::QString && stored.toString() == QLatin1String(kOff);
    setup_.highResTimer = !off;
    clock_.setUseTsc(setup_.highResTimer);
    const auto storedOn = [&settings](const char* key) {
        const QVariant value = settings.value(QString::fromLatin1(kGroup) + QLatin1Char('/') +
                                              QString::fromLatin1(key));
        return value.typeId() == QMetaType::QString && value.toString() == QLatin1String(kOn);
    };
    setup_.midiClock = storedOn(kMidiClockKey);
    setup_.jackTransport = storedOn(kJackTransportKey);
    player_.setMidiClock(setup_.midiClock);
}

bool Preferences::customCaptionWanted() {
    const QSettings settings(filePath(), QSettings::IniFormat);
    const QVariant stored = settings.value(QString::fromLatin1(kGroup) + QLatin1Char('/') +
                                           QString::fromLatin1(kCustomCaptionKey));
    return !(stored.typeId() == QMetaType::QString && stored.toString() == QLatin1String(kOff));
}

bool Preferences::linkWanted() {
    const QSettings settings(filePath(), QSettings::IniFormat);
    const QVariant stored = settings.value(QString::fromLatin1(kGroup) + QLatin1Char('/') +
                                           QString::fromLatin1(kLinkKey));
    // Off by default: joining a network session is something the user asks for.
    return stored.typeId() == QMetaType::QString && stored.toString() == QLatin1String(kOn);
}

void Preferences::saveLink(bool on) {
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(
        QString::fromLatin1(kGroup) + QLatin1Char('/') + QString::fromLatin1(kLinkKey),
        QString::fromLatin1(on ? kOn : kOff));
    settings.sync();
}

bool Preferences::followClockWanted() {
    const QSettings settings(filePath(), QSettings::IniFormat);
    const QVariant stored = settings.value(keyOf(kFollowClockKey));
    return stored.typeId() == QMetaType::QString && stored.toString() == QLatin1String(kOn);
}

void Preferences::saveFollowClock(bool on) {
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(keyOf(kFollowClockKey), QString::fromLatin1(on ? kOn : kOff));
    settings.sync();
}

std::string Preferences::midiInputSource() {
    const QSettings settings(filePath(), QSettings::IniFormat);
    const QVariant stored = settings.value(keyOf(kMidiInputKey));
    return stored.typeId() == QMetaType::QString ? stored.toString().toStdString() : std::string();
}

void Preferences::saveMidiInputSource(const std::string& name) {
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(keyOf(kMidiInputKey), QString::fromStdString(name));
    settings.sync();
}

bool Preferences::transposeFromInputWanted() {
    const QSettings settings(filePath(), QSettings::IniFormat);
    const QVariant stored = settings.value(keyOf(kTransposeFromInputKey));
    return stored.typeId() == QMetaType::QString && stored.toString() == QLatin1String(kOn);
}

void Preferences::saveTransposeFromInput(bool on) {
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(keyOf(kTransposeFromInputKey), QString::fromLatin1(on ? kOn : kOff));
    settings.sync();
}

std::vector<std::string> Preferences::midiBindingLines() {
    const QSettings settings(filePath(), QSettings::IniFormat);
    // A hand-written single line reads as a string, several as a list: both come as a list.
    const QStringList stored = settings.value(keyOf(kMidiBindingsKey)).toStringList();
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(stored.size()));
    for (const QString& line : stored) {
        lines.push_back(line.toStdString());
    }
    return lines;
}

void Preferences::saveMidiBindingLines(const std::vector<std::string>& lines) {
    QSettings settings(filePath(), QSettings::IniFormat);
    if (lines.empty()) {
        settings.remove(keyOf(kMidiBindingsKey));
    } else {
        QStringList stored;
        for (const std::string& line : lines) {
            stored.append(QString::fromStdString(line));
        }
        settings.setValue(keyOf(kMidiBindingsKey), stored);
    }
    settings.sync();
}

void Preferences::savePreferences() const {
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(highResTimerKey(), QString::fromLatin1(setup_.highResTimer ? kOn : kOff));
    const QString group = QString::fromLatin1(kGroup) + QLatin1Char('/');
    settings.setValue(group + QString::fromLatin1(kMidiClockKey),
                      QString::fromLatin1(setup_.midiClock ? kOn : kOff));
    settings.setValue(group + QString::fromLatin1(kJackTransportKey),
                      QString::fromLatin1(setup_.jackTransport ? kOn : kOff));
    settings.sync();
}

void Preferences::toggleHighResTimer() {
    if (player_.isRunning()) {
        player_.stop(true);  // the timer changes here only: shared clocks go on
    }
    setup_.highResTimer = !setup_.highResTimer;
    clock_.setUseTsc(setup_.highResTimer);
    savePreferences();
}

void Preferences::toggleMidiClock() {
    setup_.midiClock = !setup_.midiClock;
    player_.setMidiClock(setup_.midiClock);
    savePreferences();
}

void Preferences::toggleJackTransport() {
    setup_.jackTransport = !setup_.jackTransport;
    savePreferences();
}
