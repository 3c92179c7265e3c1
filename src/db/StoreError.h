#pragma once
// The one error the recipient store lets out: an operation of the database failed. It carries
// the engine's own words, which callers log and some show; the engine's exception types stay
// inside this library.

#include <stdexcept>

namespace pw::db {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Called from a catch (...) handler at the store's surface: an engine exception leaves as a
// StoreError with its text; anything else is rethrown as it is.
[[noreturn]] void RaiseStoreError();

}  // namespace pw::db
