// The one error of a line operation, whatever carries the line.
#pragma once

#include <stdexcept>

// A line operation failed; what() says why, in words a user can act on.
class LineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
