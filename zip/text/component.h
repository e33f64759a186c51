// The small part of a framework component the archive classes need: an owner and a name.
#pragma once

#include <string>

namespace zip {

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr) : Owner(owner) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner;
    std::u16string Name;
};

}  // namespace zip
