// IConnectionUser: the owner of a Gateway connection, told when the
// connection breaks. CGWClient calls OnConnectionLost once per loss, on its
// receiver thread, just before that thread ends; rebuilding the connection
// is the owner's task.
//
// The destructor is declared after OnConnectionLost so that the method keeps
// slot 0 and an implementer's destructor follows it.
#pragma once

namespace quorvel {

class IConnectionUser {
 public:
  virtual void OnConnectionLost() = 0;
  virtual ~IConnectionUser() = default;
};

}  // namespace quorvel
