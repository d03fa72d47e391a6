// A System that passes every call on to another one. Systems that change a few calls derive from
// it and replace just those (the checker's, which must show, change and start nothing, and the
// tests' fake), so that a call the interface gains reaches the system below unchanged once it is
// forwarded here.
#ifndef KESTARIO_PLATFORM_FORWARDING_SYSTEM_H_
#define KESTARIO_PLATFORM_FORWARDING_SYSTEM_H_

#include "platform/system.h"
#include "platform/system_calls.h"

// Passes a call on to the system below, for a class body:
// ALL_SYSTEM_CALLS(FORWARD_SYSTEM_CALL).
#define FORWARD_SYSTEM_CALL(type, name, parameters, arguments) \
  type name parameters override { return base_->name arguments; }

namespace kestario {

class ForwardingSystem : public System {
 public:
  explicit ForwardingSystem(System* base) : base_(base) {}

  ALL_SYSTEM_CALLS(FORWARD_SYSTEM_CALL)

 protected:
  System* base() const { return base_; }

 private:
  System* base_;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FORWARDING_SYSTEM_H_
