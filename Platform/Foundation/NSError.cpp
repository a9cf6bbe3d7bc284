#include "Foundation/NSError.h"

#include <typeinfo>

NSError makeNSError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const NSErrorConvertible& convertible) {
    return convertible.nsError();
  } catch (const std::bad_alloc&) {
    return {NSErrorDomain::kPOSIX, 12,
            "The operation couldn't be completed. Cannot allocate memory"};
  } catch (const std::exception& e) {
    return {"Lumivale.InternalError", 1, e.what()};
  } catch (...) {
    return {"Lumivale.InternalError", 2, "The operation couldn't be completed."};
  }
}
