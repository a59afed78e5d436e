// A value or the sentence that tells a person why there is none.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace sysext {

struct Failure {
    std::string message;
};

template <class T>
class Expected {
  public:
    Expected(T value) : content_(std::move(value)) {}
    Expected(Failure failure) : content_(std::move(failure)) {}

    bool ok() const { return std::holds_alternative<T>(content_); }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<T>(content_); }
    const T& value() const { return std::get<T>(content_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }

    const std::string& error() const { return std::get<Failure>(content_).message; }

  private:
    std::variant<T, Failure> content_;
};

}  // namespace sysext
