#pragma once

#include <utility>

namespace zelvane {

// Owns one system resource (a descriptor, a handle) and releases it when destroyed. Traits give
// the resource's type, the values that mean "none", and how to release it.
template <typename Traits>
class UniqueResource {
  public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { Reset(); }

    Type Get() const { return value_; }
    bool Valid() const { return Traits::Valid(value_); }
    [[nodiscard]] Type Release() { return std::exchange(value_, Traits::None()); }
    void Reset(Type value = Traits::None()) {
        if (Valid()) Traits::Release(value_);
        value_ = value;
    }

  private:
    Type value_ = Traits::None();
};

// Traits for a resource held as a pointer or handle that is null when there is none, released by
// passing it to Free.
template <typename T, auto Free>
struct NullableTraits {
    using Type = T;
    static constexpr Type None() { return nullptr; }
    static constexpr bool Valid(Type value) { return value != nullptr; }
    static void Release(Type value) { Free(value); }
};

}  // namespace zelvane
