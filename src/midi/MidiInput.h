#pragma once

#include <memory>
#include <string>
#include <vector>

class AlsaMidiInput;
class JackMidiInput;
class MidiInputSink;

// The program's MIDI input, as the window owns it: an ALSA sequencer port "in" on the client
// "Glimmerstave" (where there is a sequencer) and a JACK MIDI port "in" on the client
// "Glimmerstave input" (while a JACK server runs), both there from open() on so that a
// patchbay can connect them, and one chosen source connected to one of them and followed by
// name. What arrives goes to the sink on the input threads (see MidiInputSink).
//
// Every member runs on the window thread; each may block briefly (a sequencer query, a JACK
// client opened for a list).
class MidiInput {
public:
    // Nothing opened yet.
    MidiInput();
    // Closes both inputs and waits for their threads.
    ~MidiInput();
    MidiInput(const MidiInput&) = delete;
    MidiInput& operator=(const MidiInput&) = delete;

    // Before open(); nullptr drops everything.
    void setSink(MidiInputSink* sink);
    // The ALSA port exists from now on, the JACK port once a server answers. Once.
    void open();

    // Every MIDI output port of other clients, named as the output list names its ports:
    // ALSA ports "client:port (ALSA)", then JACK ports "client:port (JACK)". This program's
    // own ports are left out.
    static std::vector<std::string> listSources();

    // The source to connect, one of listSources()'s names; "" for none. A name that is not
    // there now is connected when it appears, and again whenever it comes back. A name of
    // neither kind is kept but never connects.
    void setSource(const std::string& name);
    const std::string& source() const { return source_; }
    // Whether the chosen source is present and connected now.
    bool sourceConnected() const;

    // The two inputs, for diagnosis and tests; null before open().
    AlsaMidiInput* alsa() { return alsa_.get(); }
    JackMidiInput* jack() { return jack_.get(); }

private:
    enum class Kind { None, Alsa, Jack };
    static Kind kindOf(const std::string& name);
    void applySource();

    MidiInputSink* sink_ = nullptr;
    std::unique_ptr<AlsaMidiInput> alsa_;
    std::unique_ptr<JackMidiInput> jack_;
    std::string source_;
};
