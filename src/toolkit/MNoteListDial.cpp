#include "toolkit/MNoteListDial.h"

#include <cstdint>

#include "core/TextFormat.h"
#include "toolkit/InputState.h"

void MNoteListDial::Create(const DialParams& params) {
    MDial::Create(params);
    SetFirstNote(0);
}

std::string MNoteListDial::FormatNotes(const IntArray& notes) {
    std::string text;
    for (std::ptrdiff_t i = 0; i < notes.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        text += TextFormat::formatInt(notes[i]);
    }
    return text;
}

void MNoteListDial::Display() {
    if (notes_.empty()) {
        // A chord is never empty: an empty list becomes the single note 0, shown as "".
        notes_.add(0);
        WriteField("");
        return;
    }
    WriteField(FormatNotes(notes_));
}

int MNoteListDial::ParseNotes() {
    const std::string text = ReadField();
    notes_.removeAll();
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::size_t end = comma == std::string::npos ? text.size() : comma;
        notes_.add(TextFormat::parseInt(std::string_view(text).substr(start, end - start)));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return notes_[0];
}

void MNoteListDial::CommitEdit() {
    ParseNotes();
    Display();
}

void MNoteListDial::StepBy(int delta) {
    long long step = static_cast<std::int16_t>(delta);
    if (InputState::Current().IsControlHeld()) {
        step *= ctrlMultiplier_;
    }
    for (std::ptrdiff_t i = 0; i < notes_.size(); ++i) {
        notes_[i] = Clamp(notes_[i] + step);
    }
    Display();
}

void MNoteListDial::SetFirstNote(int v) {
    if (notes_.empty()) {
        notes_.add(v);
    } else {
        const long long shift = static_cast<long long>(v) - notes_[0];
        for (std::ptrdiff_t i = 0; i < notes_.size(); ++i) {
            notes_[i] = Clamp(notes_[i] + shift);
        }
        bar_.SetValue(notes_[0]);
    }
    Display();
}

const IntArray& MNoteListDial::GetNotes() {
    ParseNotes();
    return notes_;
}

void MNoteListDial::SetNotes(const IntArray& notes) {
    notes_.copy(notes);
    Display();
}
