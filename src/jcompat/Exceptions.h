#pragma once

#include <exception>
#include <optional>
#include <string>
#include <utility>

namespace ferrow::jcompat {

// The failure types the routing code raises and distinguishes. Callers answer
// "the error's message, or its type name", and the engine tells run-time
// failures from other ones, so both the type name and whether a message was
// given at all (as opposed to an empty one) are kept.
class Throwable : public std::exception {
public:
    Throwable() = default;
    explicit Throwable(std::string message) : message_(std::move(message)) {}

    virtual const char* typeName() const noexcept { return "Throwable"; }

    bool hasMessage() const noexcept { return message_.has_value(); }
    // The message, or an empty text when none was given.
    const std::string& getMessage() const noexcept {
        static const std::string none;
        return message_ ? *message_ : none;
    }
    // The message when there is one, otherwise the type name.
    const char* what() const noexcept override { return message_ ? message_->c_str() : typeName(); }
    // The type name, followed by ": " and the message when there is one.
    std::string toString() const {
        std::string text = typeName();
        if (message_) {
            text += ": ";
            text += *message_;
        }
        return text;
    }

private:
    std::optional<std::string> message_;
};

#define FERROW_EXCEPTION_TYPE(Name, Base)                                \
    class Name : public Base {                                           \
    public:                                                              \
        using Base::Base;                                                \
        const char* typeName() const noexcept override { return #Name; } \
    }

FERROW_EXCEPTION_TYPE(Exception, Throwable);
FERROW_EXCEPTION_TYPE(RuntimeException, Exception);
FERROW_EXCEPTION_TYPE(IllegalArgumentException, RuntimeException);
FERROW_EXCEPTION_TYPE(NumberFormatException, IllegalArgumentException);
FERROW_EXCEPTION_TYPE(IllegalStateException, RuntimeException);
FERROW_EXCEPTION_TYPE(NoSuchElementException, RuntimeException);
FERROW_EXCEPTION_TYPE(IndexOutOfBoundsException, RuntimeException);
FERROW_EXCEPTION_TYPE(ArithmeticException, RuntimeException);
FERROW_EXCEPTION_TYPE(UnsupportedOperationException, RuntimeException);
FERROW_EXCEPTION_TYPE(ClassCastException, RuntimeException);
FERROW_EXCEPTION_TYPE(IOException, Exception);
FERROW_EXCEPTION_TYPE(EOFException, IOException);
FERROW_EXCEPTION_TYPE(FileNotFoundException, IOException);

#undef FERROW_EXCEPTION_TYPE

} // namespace ferrow::jcompat
