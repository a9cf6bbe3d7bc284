// NSObject: the common base of objects passed as an action's sender (menu items, buttons), so
// that receivers can take any of them.
#pragma once

class NSObject {
public:
  virtual ~NSObject() = default;
};
