// A byte string for passwords: its storage is wiped whenever the text is replaced or freed, so
// no copy of a password outlives the object that held it.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "crypto/coder_base.h"

namespace zip {

class TSecretString {
public:
    TSecretString() = default;
    TSecretString(std::string_view text) : text_(text) {}
    TSecretString(const std::string& text) : text_(text) {}
    TSecretString(const char* text) : text_(text ? text : "") {}
    TSecretString(const TSecretString& other) : text_(other.text_) {}
    // A short string moves by copying its bytes, so the source is wiped either way.
    TSecretString(TSecretString&& other) noexcept : text_(std::move(other.text_)) { other.Wipe(); }
    TSecretString& operator=(const TSecretString& other) {
        if (this != &other) {
            Wipe();
            text_ = other.text_;
        }
        return *this;
    }
    TSecretString& operator=(TSecretString&& other) noexcept {
        if (this != &other) {
            Wipe();
            text_ = std::move(other.text_);
            other.Wipe();
        }
        return *this;
    }
    ~TSecretString() { Wipe(); }

    const std::string& str() const { return text_; }
    const char* data() const { return text_.data(); }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }
    bool operator==(const TSecretString& other) const { return text_ == other.text_; }

    // Overwrites the whole allocation, not only the characters in use, and empties the string.
    void Wipe() noexcept {
        text_.resize(text_.capacity());
        WipeMemory(text_.data(), text_.size());
        text_.clear();
    }

private:
    std::string text_;
};

}  // namespace zip
