#pragma once

#include <stdexcept>

namespace quorvik {

// A directory file that cannot be parsed or written, with the reason.
class UserDirectoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace quorvik
