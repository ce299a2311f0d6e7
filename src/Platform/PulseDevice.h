#pragma once

#include <cstdint>
#include <string>

// One audio device of the sound server: a sink plays, a source records. A monitor source only
// mirrors what a sink plays, so it is never offered as an input of its own.
struct PulseDevice {
    enum class Kind { Sink, Source };

    Kind kind = Kind::Sink;
    uint32_t index = 0;        // the server's id, unique among devices of one kind
    std::string name;          // the server's unique name
    std::string description;  // the name a person sees
    bool monitor = false;
};
