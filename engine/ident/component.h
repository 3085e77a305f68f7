// The component base of the unpackers: a name and the owner that holds the component for its
// lifetime. Hosts own their components as they own any object; the owner is informational.
#pragma once

#include <string>

namespace quern {

class TComponent {
 public:
  explicit TComponent(TComponent* owner) : owner_(owner) {}
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  std::string Name;

 private:
  TComponent* owner_;
};

}  // namespace quern
