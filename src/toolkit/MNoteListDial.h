#pragma once

#include <string>

#include "core/IntArray.h"
#include "toolkit/MDial.h"

// A dial whose field holds a chord: note offsets written "0,4,7". The arrows move every
// note of the chord (each clamped to the range on its own, so notes pressed against an end
// merge); setting the first note moves the whole chord with it.
class MNoteListDial : public MDial {
public:
    MNoteListDial() = default;

    // As MDial::Create; the list then starts as the single note 0.
    void Create(const DialParams& params);
    using MDial::Create;

    void CommitEdit() override;
    void StepBy(int delta) override;
    // Reads the field's text into the list: one note per comma-separated piece, a piece that
    // is not a number reads as 0; not clamped. Returns the first note.
    virtual int ParseNotes();
    virtual void SetFirstNote(int v);

    // Parses, then returns the list.
    const IntArray& GetNotes();
    void SetNotes(const IntArray& notes);
    // The list as it stands, without reading the field.
    const IntArray& GetStoredNotes() const { return notes_; }

    // The text form of a list: each note "%d", joined with "," and no spaces.
    static std::string FormatNotes(const IntArray& notes);

private:
    void Display();

    IntArray notes_;
};
