#pragma once

// The values of a step that generic edits address by number. The numbers double as the
// offsets of a step column's parts within the column's control id, so they are fixed.
enum class StepValue : int {
    On = 10,
    Root = 20,
    Program = 30,
    Velocity = 40,
    Pan = 50,
    Duration = 60,
};
