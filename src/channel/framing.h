// Cutting the in-channel's byte stream into lines.
#pragma once

#include <cstddef>
#include <string>

// Bytes read and not yet cut off as lines. Each byte is searched for a newline once, however
// many reads a long line takes to arrive.
struct LineFramer {
    std::string pendingInput;
    std::size_t consumed = 0; // bytes of pendingInput already handed out as lines
    std::size_t searched = 0; // bytes of pendingInput already known to hold no newline

    void append(const char *bytes, std::size_t count);

    // Moves the next complete line, without its newline, into `line`. False when no complete
    // line is left. A carriage return before the newline stays in the line.
    bool nextLine(std::string &line);
};
