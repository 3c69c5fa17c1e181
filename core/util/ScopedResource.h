#pragma once

#include <utility>

namespace OrvaneClient {

// A move-only owner of one resource, closed by its traits. Knows no platform, so the tools can
// build their descriptor owner on it too. `Traits` provides:
//   using Value = ...;                   the resource's type (a handle, a pointer, a descriptor)
//   static Value Empty();                the value owning nothing
//   static bool IsValid(Value);          whether a value needs closing
//   static bool Close(Value);            closes it; false on failure, with the error left behind
//   struct ErrorGuard;                   saves the last error, restores it when destroyed
// Every implicit close (destructor, reset, move assignment) keeps the last error as it found it,
// so an owner going out of scope in a failure branch never overwrites the error being logged.
// close() is the explicit form for callers that log a failed release; it leaves the error of the
// failed close behind.
template <class Traits>
class ScopedResource {
public:
    using Value = typename Traits::Value;

    ScopedResource() = default;
    explicit ScopedResource(Value value) : value(value) {}
    ~ScopedResource() { closeQuietly(); }

    ScopedResource(ScopedResource&& other) noexcept : value(other.takeValue()) {}
    ScopedResource& operator=(ScopedResource&& other) noexcept {
        if (this != &other) {
            reset(other.takeValue());
        }
        return *this;
    }
    ScopedResource(const ScopedResource&) = delete;
    ScopedResource& operator=(const ScopedResource&) = delete;

    bool isValid() const { return Traits::IsValid(value); }
    Value get() const { return value; }

    // Closes what is owned now; true when that worked or there was nothing to close. Owns nothing
    // afterwards, even when the close failed.
    bool close() {
        if (!isValid()) {
            value = Traits::Empty();
            return true;
        }
        return Traits::Close(takeValue());
    }

    // Closes what is owned (keeping the last error) and takes `replacement`.
    void reset(Value replacement = Traits::Empty()) {
        if (replacement != value) {
            closeQuietly();
        }
        value = replacement;
    }

    // Hands the resource to the caller, who then releases it.
    [[nodiscard]] Value release() { return takeValue(); }

private:
    Value takeValue() { return std::exchange(value, Traits::Empty()); }

    void closeQuietly() {
        if (isValid()) {
            const typename Traits::ErrorGuard keepError;
            Traits::Close(takeValue());
        }
    }

    Value value = Traits::Empty();
};

}  // namespace OrvaneClient
