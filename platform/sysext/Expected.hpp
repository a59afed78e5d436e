// How every function of the stand-in that can fail says so: it returns a value,
// or nothing for an action (Expected<void>), or else why. The why is a sentence
// for a person (Failure), or, where the answer goes to a request's delegate, an
// error of the service's domain (platform::Error).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace sysext {

struct Failure {
    std::string message;
};

template <class T, class E = Failure>
class [[nodiscard]] Expected {
  public:
    Expected(T value) : content_(std::in_place_index<0>, std::move(value)) {}
    Expected(E failure) : content_(std::in_place_index<1>, std::move(failure)) {}

    explicit operator bool() const { return content_.index() == 0; }
    T& operator*() { return std::get<0>(content_); }
    const T& operator*() const { return std::get<0>(content_); }
    T* operator->() { return &std::get<0>(content_); }
    const T* operator->() const { return &std::get<0>(content_); }
    const E& error() const { return std::get<1>(content_); }

  private:
    std::variant<T, E> content_;
};

template <class E>
class [[nodiscard]] Expected<void, E> {
  public:
    Expected() = default;
    Expected(E failure) : failure_(std::move(failure)) {}

    explicit operator bool() const { return !failure_; }
    const E& error() const { return *failure_; }

  private:
    std::optional<E> failure_;
};

}  // namespace sysext
